#include <gtest/gtest.h>

#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "foundation/ValueList.h"

using namespace ValueList;

namespace {

class VListTest : public ::testing::Test {
 protected:
  void SetUp() override { mark = Basic::MemMark(); }
  void TearDown() override {
    VList_Free(list);
    EXPECT_EQ(Basic::MemMark(), mark) << "tracked blocks left behind";
  }
  VList list;
  int32_t mark = 0;
};

}  // namespace

TEST_F(VListTest, NewListIsEmpty) {
  VList_Alloc(list);
  EXPECT_EQ(list.fieldCount, 0);
  EXPECT_EQ(VList_GetCount(list), 0);
  EXPECT_EQ(VList_GetInt(list, 0, 1, 77), 77);
  std::string s = "x";
  VList_GetStr(list, 0, 1, s, "dflt");
  EXPECT_EQ(s, "dflt");
  EXPECT_EQ(VList_FindFieldByID(list, 1), Basic::K_AUTO);
  EXPECT_TRUE(Errors::ErrNone());
}

TEST_F(VListTest, NameValuePairs) {
  VList_Prepare2(list);
  VList_Add2(list, "Cinepak", 10);
  VList_Add2(list, "Uncompressed", 0);
  EXPECT_EQ(VList_GetCount(list), 2);
  std::string name;
  VList_GetStr(list, 1, 0, name, "");
  EXPECT_EQ(name, "Uncompressed");
  EXPECT_EQ(VList_GetInt(list, 0, 1, -1), 10);
  EXPECT_EQ(VList_FindInt(list, 1, 0, -1), 1);
  EXPECT_EQ(VList_FindInt(list, 1, 99, -1), -1);
  EXPECT_EQ(VList_FindInt(list, 42, 0, -5), -5);  // no such field
}

TEST_F(VListTest, NewFieldGivesExistingRowsEmptyValues) {
  VList_Alloc(list);
  for (int i = 0; i < 3; i++) EXPECT_EQ(VList_Append(list), i);
  VList_AddField(list, 5, kTypeInt);
  VList_AddField(list, 6, kTypeReal);
  VList_AddField(list, 7, kTypeStr);
  VList_AddField(list, 8, 9);  // a type the list does not know
  for (int r = 0; r < 3; r++) {
    EXPECT_EQ(VList_GetInt(list, r, 5, 0), Basic::K_AUTO);
    int32_t type = 0;
    VSlot* slot = nullptr;
    ASSERT_TRUE(_VList_FindField(list, r, 6, type, slot));
    EXPECT_EQ(type, kTypeReal);
    EXPECT_DOUBLE_EQ(slot->vReal, -1357902468.0);
    ASSERT_TRUE(_VList_FindField(list, r, 7, type, slot));
    EXPECT_EQ(slot->vStrP, nullptr);
    ASSERT_TRUE(_VList_FindField(list, r, 8, type, slot));
    EXPECT_EQ(slot->vInt, 0);
  }
  // A row appended later gets the same.
  const int32_t r = VList_Append(list);
  EXPECT_EQ(VList_GetInt(list, r, 5, 0), Basic::K_AUTO);
  std::string s = "x";
  VList_GetStr(list, r, 7, s, "dflt");
  EXPECT_EQ(s, "");
}

TEST_F(VListTest, FindRowAndFieldBounds) {
  VList_Prepare2(list);
  VList_Append(list);
  int32_t type = 0;
  VSlot* slot = nullptr;
  EXPECT_TRUE(_VList_FindField(list, 0, 1, type, slot));
  EXPECT_FALSE(_VList_FindField(list, 1, 1, type, slot));
  EXPECT_FALSE(_VList_FindField(list, -1, 1, type, slot));
  EXPECT_FALSE(_VList_FindField(list, 0, 2, type, slot));
  VList_SetInt(list, 4, 1, 3);  // missing row: nothing
  EXPECT_EQ(VList_GetInt(list, 4, 1, 12), 12);
  EXPECT_TRUE(Errors::ErrNone());
}

TEST_F(VListTest, DuplicateFieldIsATypeError) {
  VList_Alloc(list);
  VList_AddField(list, 3, kTypeInt);
  VList_AddField(list, 3, kTypeStr);
  EXPECT_EQ(Errors::ErrClass(), 4);
  EXPECT_EQ(Errors::ErrCode(), 3);
  EXPECT_EQ(list.fieldCount, 1);
  try {
    Errors::Monitored("Test.AddField",
                      [&] { VList_AddField(list, 3, kTypeInt); });
    FAIL() << "no error raised";
  } catch (const Errors::EMon& e) {
    EXPECT_STREQ(e.what(), "Invalid variable type.");
  }
}

TEST_F(VListTest, SeventeenthFieldIsIgnored) {
  VList_Alloc(list);
  for (int i = 0; i < 16; i++) VList_AddField(list, 100 + i, kTypeInt);
  VList_AddField(list, 200, kTypeInt);
  EXPECT_TRUE(Errors::ErrNone());
  EXPECT_EQ(list.fieldCount, 16);
  EXPECT_EQ(VList_FindFieldByID(list, 200), Basic::K_AUTO);
  EXPECT_EQ(VList_FindFieldByID(list, 115), 15);
}

TEST_F(VListTest, FindIntTakesTheFirstMatch) {
  VList_Alloc(list);
  VList_AddField(list, 1, kTypeInt);
  for (int v : {5, 7, 7}) VList_SetInt(list, VList_Append(list), 1, v);
  EXPECT_EQ(VList_FindInt(list, 1, 7, -1), 1);
  EXPECT_EQ(VList_FindInt(list, 1, 5, -1), 0);
}

TEST_F(VListTest, WrongTypeAccess) {
  VList_Prepare2(list);
  VList_Add2(list, "a", 1);
  VList_SetInt(list, 0, 0, 5);
  EXPECT_EQ(Errors::ErrCode(), 3);
  Errors::ErrClear();
  VList_SetStr(list, 0, 1, "x");
  EXPECT_EQ(Errors::ErrCode(), 3);
  EXPECT_EQ(VList_GetInt(list, 0, 1, -1), 1);  // value untouched
  Errors::ErrClear();
  EXPECT_EQ(VList_GetInt(list, 0, 0, 42), 42);  // the default, error set
  EXPECT_EQ(Errors::ErrCode(), 3);
  Errors::ErrClear();
  std::string s;
  VList_GetStr(list, 0, 1, s, "");
  EXPECT_EQ(Errors::ErrCode(), 3);
  Errors::ErrClear();
}

TEST_F(VListTest, TrackedBlocksAndLabels) {
  VList_Prepare2(list);
  const int32_t r = VList_Append(list);
  VSlot* row = (*list.rows)[0];
  EXPECT_TRUE(Basic::MemIsTracked(row));
  EXPECT_EQ(Basic::MemTrackedSize(row), Basic::MemSlackSize(128));
  EXPECT_NE(Basic::MemTrackedLabel(row).find("ValueList.VList_Append.itemP"),
            std::string::npos);
  const int32_t before = Basic::MemMark();
  VList_SetStr(list, r, 0, "first");
  VList_SetStr(list, r, 0, "second, longer");
  EXPECT_EQ(Basic::MemMark(), before + 1);  // one buffer for the slot
  char* buffer = row[0].vStrP;
  EXPECT_STREQ(buffer, "second, longer");
  EXPECT_NE(Basic::MemTrackedLabel(buffer).find(
                "ValueList.VList_SetStr.valueP^.vStrP"),
            std::string::npos);
  VList_SetStr(list, r, 0, "");
  std::string s = "x";
  VList_GetStr(list, r, 0, s, "dflt");
  EXPECT_EQ(s, "");
}
