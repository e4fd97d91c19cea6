// Records that another user deleted while the window showed them; see
// VanishedRecords.h.
#include "browser/VanishedRecords.h"

#include "moneytable/Tamblor.h"

#include <cstdint>
#include <vector>

namespace browser {

namespace {

// The record numbers of the window's records, in window order.
std::vector<int> WindowRecNos(TMoneyTable& Table) {
    const int Active = Table.ActiveRecord();
    std::vector<int> RecNos;
    RecNos.reserve(static_cast<std::size_t>(Table.ValidCount()));
    for (int I = 0; I < Table.ValidCount(); ++I) {
        Table.SetActiveRecord(I);
        RecNos.push_back(Table.RecNo());
    }
    Table.SetActiveRecord(Active);
    return RecNos;
}

// "3", "3 and 4", "3, 4 and 7".
std::string ListText(const std::vector<int>& Numbers) {
    std::string Text;
    for (std::size_t I = 0; I < Numbers.size(); ++I) {
        if (I > 0) Text += I + 1 == Numbers.size() ? " and " : ", ";
        Text += std::to_string(Numbers[I]);
    }
    return Text;
}

std::string GoneMessage(const std::vector<int>& Gone, const std::string& FileName, bool Restricted) {
    const bool One = Gone.size() == 1;
    std::string Text = (One ? "Record " : "Records ") + ListText(Gone) + " of table '" + FileName + "' " +
                       (One ? "was" : "were") + " deleted by another user";
    if (Restricted)
        Text += std::string(", or changed so that the filter or range no longer shows ") + (One ? "it" : "them");
    return Text + "; the window now shows the table as it is";
}

}  // namespace

std::optional<std::string> RecoverVanishedRecords(TMoneyTable& Table, bool Restricted) {
    IBFTable7* Engine = Table.EngineTable();
    if (Engine == nullptr || Table.State() != dsBrowse || Table.IsEmpty()) return std::nullopt;

    // Ask the engine for each record; its cursor moves, so the framework is
    // told that it no longer knows where the cursor stands.
    const std::vector<int> RecNos = WindowRecNos(Table);
    std::vector<bool> Left(RecNos.size());
    std::vector<int> Gone;
    for (std::size_t I = 0; I < RecNos.size(); ++I) {
        std::int32_t Status = 0;
        OleCheck(Engine->MoveToRecord(RecNos[I], &Status));
        Left[I] = Status == 0;
        if (!Left[I]) Gone.push_back(RecNos[I]);
    }
    Table.CursorPosChanged();
    if (Gone.empty()) return std::nullopt;

    // The record to stand on: the current one, else the nearest left after
    // it, else the nearest left before it.
    const int Active = Table.ActiveRecord();
    int Target = -1;
    for (int I = Active; I < static_cast<int>(Left.size()) && Target < 0; ++I)
        if (Left[static_cast<std::size_t>(I)]) Target = I;
    for (int I = Active - 1; I >= 0 && Target < 0; --I)
        if (Left[static_cast<std::size_t>(I)]) Target = I;

    if (Target < 0) {
        Table.First();
    } else {
        // Refresh positions the engine on the active record and rebuilds the
        // window around it, keeping its row.
        Table.SetActiveRecord(Target);
        Table.Refresh();
    }
    return GoneMessage(Gone, Table.FileName(), Restricted);
}

}  // namespace browser
