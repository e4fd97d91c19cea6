// Shared helpers of the fuzz targets: a scratch folder per fuzzing process,
// whole-file writes and reads, and the check that stops the fuzzer on a
// broken contract.
//
// Every target writes its files only inside ScratchDir(): a folder created
// once per process under $TMPDIR (when unset /dev/shm, else /tmp) and removed
// at exit.
// Ownership: values and paths. Threads: libFuzzer calls a target from one
// thread; nothing here locks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace fuzz {

// The process's scratch folder (created on first use, removed at exit).
inline const std::string& ScratchDir() {
    // Never destroyed: the removal at exit runs after static destructors.
    static const std::string& dir = *new std::string([] {
        // Memory-backed when possible: every input writes files.
        const char* tmp = std::getenv("TMPDIR");
        const std::string base = tmp && *tmp                                    ? tmp
                                 : std::filesystem::is_directory("/dev/shm") ? "/dev/shm"
                                                                              : "/tmp";
        std::string pattern = base + "/tamblor-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            std::perror("tamblor fuzz: cannot create a scratch folder");
            std::abort();
        }
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(ScratchDir(), ec);
        });
        return pattern;
    }());
    return dir;
}

// Writes the file whole (replacing it); aborts when it cannot: the fuzzer's
// own environment is broken, not the code under test.
inline void WriteFile(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "tamblor fuzz: cannot write %s\n", path.c_str());
        std::abort();
    }
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Removes a table file and its side files.
inline void RemoveTable(const std::string& path) {
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix, ec);
}

// A broken contract: prints what and aborts, so that libFuzzer keeps the input.
[[noreturn]] inline void Fail(const std::string& what) {
    std::fprintf(stderr, "tamblor fuzz: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

inline void Check(bool ok, const std::string& what) {
    if (!ok) Fail(what);
}

}  // namespace fuzz
