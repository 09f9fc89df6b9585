// A small typed table: up to 16 fields with caller-chosen identifiers and
// any number of rows of eight-byte slots, mostly used as a name/value list
// behind combo boxes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ValueList {

constexpr int32_t kMaxFields = 16;

// Field types.
enum : int32_t { kTypeInt = 1, kTypeReal = 3, kTypeStr = 4 };

// One slot of a row.
union VSlot {
  int32_t vInt;
  double vReal;
  char* vStrP;
  uint8_t raw[8];
};
static_assert(sizeof(VSlot) == 8);

struct VList {
  int32_t fieldCount = 0;
  int32_t fieldIDs[kMaxFields] = {};
  int32_t fieldTypes[kMaxFields] = {};
  // Each row is a tracked block of 16 slots; nullptr until VList_Alloc.
  std::vector<VSlot*>* rows = nullptr;
};

void VList_Alloc(VList& list);
void VList_Free(VList& list);
int32_t VList_FindFieldByID(const VList& list, int32_t id);
void VList_AddField(VList& list, int32_t id, int32_t type);
int32_t VList_Append(VList& list);
int32_t VList_GetCount(const VList& list);
bool _VList_FindField(const VList& list, int32_t row, int32_t id,
                      int32_t& type, VSlot*& slot);
void VList_SetInt(VList& list, int32_t row, int32_t id, int32_t value);
void VList_SetStr(VList& list, int32_t row, int32_t id, const std::string& text);
int32_t VList_GetInt(const VList& list, int32_t row, int32_t id,
                     int32_t defaultValue);
void VList_GetStr(const VList& list, int32_t row, int32_t id, std::string& text,
                  const std::string& defaultText);
int32_t VList_FindInt(const VList& list, int32_t id, int32_t value,
                      int32_t defaultRow);
void VList_Prepare2(VList& list);
void VList_Add2(VList& list, const std::string& name, int32_t value);

}  // namespace ValueList
