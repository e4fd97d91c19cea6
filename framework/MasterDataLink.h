// Dataset framework: TMasterDataLink, the link of a detail dataset to the
// data source of its master.
//
// FieldNames is a ';'-separated list of master field names; whenever the
// link becomes active, or the list changes, the names are resolved on the
// master dataset into Fields (the master's field objects, in list order;
// "Field '%s' not found" for an unknown name). The detail dataset is then
// told, through the two handlers:
//   OnMasterChange   the master opened (the link became active with resolved
//                    fields), scrolled, its window was rebuilt, or one of the
//                    resolved fields changed; not while the master is in
//                    dsSetKey and not while the detail is closed
//   OnMasterDisable  the link became inactive (master closed, source
//                    disabled or removed) or resolves no fields, while the
//                    detail is open
// Neither handler runs while the detail dataset is being destroyed. Before
// any master change the detail's pending edit is finished (CheckBrowseMode).
// Fields is emptied when the link becomes inactive, so it never refers to
// field objects of a closed master.
//
// Ownership: the link does not own the detail dataset (its creator, usually
// the detail, owns the link) nor the resolved fields.
//
// Threads: the datasets' thread only.
#pragma once

#include "framework/DataSource.h"

#include <string>
#include <vector>

class TMasterDataLink : public TDataLink {
public:
    explicit TMasterDataLink(TDataSet* ADataSet);

    // The detail dataset.
    TDataSet* DetailDataSet() const noexcept { return FDataSet; }
    const std::string& FieldNames() const noexcept { return FFieldNames; }
    void SetFieldNames(const std::string& Value);
    const std::vector<TField*>& Fields() const noexcept { return FFields; }

    TNotifyEvent OnMasterChange;
    TNotifyEvent OnMasterDisable;

protected:
    void ActiveChanged() override;
    void CheckBrowseMode() override;
    void LayoutChanged() override;
    void RecordChanged(TField* Field) override;

private:
    TDataSet* FDataSet;
    std::string FFieldNames;
    std::vector<TField*> FFields;
};
