// Shared framework types: sets, the error helpers, names.
#include "framework/DB.h"

#include <gtest/gtest.h>

TEST(DBCommon, SetsBehaveLikePascalSets) {
    TFilterOptions None;
    EXPECT_TRUE(None.Empty());
    TFilterOptions Both{foCaseInsensitive, foNoPartialCompare};
    EXPECT_TRUE(Both.Contains(foNoPartialCompare));
    EXPECT_EQ(Both - TFilterOptions{foCaseInsensitive}, TFilterOptions{foNoPartialCompare});
    EXPECT_EQ(Both * TFilterOptions{foCaseInsensitive}, TFilterOptions{foCaseInsensitive});
    TResyncMode Mode{rmExact};
    Mode.Include(rmCenter).Exclude(rmExact);
    EXPECT_FALSE(Mode.Contains(rmExact));
    EXPECT_TRUE(Mode.Contains(rmCenter));
}

TEST(DBCommon, DatabaseErrorFmtFormatsTheMessage) {
    try {
        DatabaseErrorFmt(fw::SFieldNotFound, {"Payee"});
        FAIL();
    } catch (const EDatabaseError& E) {
        EXPECT_STREQ(E.what(), "Field 'Payee' not found");
    }
    try {
        DatabaseError(fw::SNotEditing);
        FAIL();
    } catch (const Exception& E) {
        EXPECT_NE(dynamic_cast<const EDatabaseError*>(&E), nullptr);
        EXPECT_EQ(E.Message(), "Dataset not in edit or insert mode");
    }
}

TEST(DBCommon, EnumerationOrdinalsAndNames) {
    EXPECT_EQ(static_cast<int>(dsOpening), 12);
    EXPECT_EQ(static_cast<int>(ftGuid), 35);
    EXPECT_EQ(static_cast<int>(ftMemo), 16);
    EXPECT_EQ(static_cast<int>(deParentScroll), 11);
    EXPECT_EQ(static_cast<int>(bfInserted), 3);
    EXPECT_EQ(fw::FieldTypeName(ftSmallint), "SmallInt");
    EXPECT_EQ(fw::FieldTypeName(ftGuid), "Guid");
    EXPECT_TRUE(IsEditMode(dsSetKey));
    EXPECT_FALSE(IsEditMode(dsCalcFields));
    EXPECT_TRUE(fw::SameName("\xD0\x94\xD0\x90", "\xD0\xB4\xD0\xB0"));  // Cyrillic
    EXPECT_FALSE(fw::SameName("abc", "abd"));
    EXPECT_FALSE(fw::SameName("ab", "abc"));
}
