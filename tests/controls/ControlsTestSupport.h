// Support for the tests of the data-aware controls: records what the controls
// show to the user through the error and confirmation hooks, and counts the
// blob streams a dataset hands out.
//
// Ownership: a TInteractionRecorder installs its handlers for its lifetime
// and restores the previous ones when destroyed. Threads: the test thread.
#pragma once

#include "controls/DBControls.h"
#include "tests/framework/MemDataSet.h"

#include <string>
#include <vector>

namespace controls::test {

class TInteractionRecorder {
public:
    TInteractionRecorder() {
        FOldError = SetErrorHandler([this](const std::string& M) { Errors.push_back(M); });
        FOldConfirm = SetConfirmHandler([this](const std::string& M) {
            Questions.push_back(M);
            return Answer;
        });
    }
    ~TInteractionRecorder() {
        SetErrorHandler(FOldError);
        SetConfirmHandler(FOldConfirm);
    }
    TInteractionRecorder(const TInteractionRecorder&) = delete;
    TInteractionRecorder& operator=(const TInteractionRecorder&) = delete;

    std::vector<std::string> Errors;
    std::vector<std::string> Questions;
    bool Answer = true;

private:
    TErrorHandler FOldError;
    TConfirmHandler FOldConfirm;
};

// A memory dataset that counts the blob streams it creates for reading.
class TCountingDataSet : public fw::test::TMemDataSet {
public:
    int BlobReads = 0;
    int BlobWrites = 0;
    std::unique_ptr<TStream> CreateBlobStream(TField* Field, TBlobStreamMode Mode) override {
        (Mode == bmRead ? BlobReads : BlobWrites)++;
        return TMemDataSet::CreateBlobStream(Field, Mode);
    }
};

// Number of records fetched from the dataset's cursor since the log was
// cleared (successful GetRecord calls).
inline int FetchCount(const fw::test::TMemDataSet& DataSet) {
    int N = 0;
    for (const std::string& Line : DataSet.Log)
        if (Line.rfind("GetRecord(", 0) == 0 && Line.find("=ok") != std::string::npos) ++N;
    return N;
}

}  // namespace controls::test
