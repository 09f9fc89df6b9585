#include "foundation/ValueList.h"

#include <cstring>

#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"

using Errors::TraceScope;

namespace ValueList {
namespace {

constexpr int64_t kRowBytes = kMaxFields * sizeof(VSlot);

void SetEmpty(VSlot& slot, int32_t type) {
  std::memset(&slot, 0, sizeof slot);
  switch (type) {
    case kTypeInt:
      slot.vInt = Basic::K_AUTO;
      break;
    case kTypeReal:
      slot.vReal = Basic::K_AUTO_REAL;
      break;
    default:  // strings: nil; other types: 0
      break;
  }
}

void TypeError(int32_t line) {
  Errors::ErrSet(Errors::kErrInvalidVariableType, line);
}

}  // namespace

void VList_Alloc(VList& list) {
  TraceScope t("ValueList.VList_Alloc");
  // A list allocated twice would lose its rows: free them first.
  if (list.rows) VList_Free(list);
  list.rows = new std::vector<VSlot*>();
  list.fieldCount = 0;
}

void VList_Free(VList& list) {
  TraceScope t("ValueList.VList_Free");
  if (!list.rows) return;
  for (VSlot*& row : *list.rows) {
    for (int32_t f = 0; f < list.fieldCount; f++)
      if (list.fieldTypes[f] == kTypeStr) Basic::MemFree(row[f].vStrP);
    Basic::MemFree(row);
  }
  delete list.rows;
  list.rows = nullptr;
}

int32_t VList_FindFieldByID(const VList& list, int32_t id) {
  TraceScope t("ValueList.VList_FindFieldByID");
  for (int32_t f = 0; f < list.fieldCount; f++)
    if (list.fieldIDs[f] == id) return f;
  return Basic::K_AUTO;
}

void VList_AddField(VList& list, int32_t id, int32_t type) {
  TraceScope t("ValueList.VList_AddField");
  if (VList_FindFieldByID(list, id) != Basic::K_AUTO) {
    TypeError(__LINE__);
    return;
  }
  if (list.fieldCount >= kMaxFields) return;
  const int32_t f = list.fieldCount++;
  list.fieldIDs[f] = id;
  list.fieldTypes[f] = type;
  if (list.rows)
    for (VSlot* row : *list.rows) SetEmpty(row[f], type);
}

int32_t VList_Append(VList& list) {
  TraceScope t("ValueList.VList_Append");
  if (!list.rows) list.rows = new std::vector<VSlot*>();
  list.rows->reserve(list.rows->size() + 1);
  VSlot* itemP = nullptr;
  if (Basic::MemAlloc(itemP, kRowBytes, __LINE__, Basic::kMemNew,
                      "ValueList.VList_Append.itemP") != Basic::kMemOk)
    return Basic::K_AUTO;
  for (int32_t f = 0; f < kMaxFields; f++)
    SetEmpty(itemP[f], f < list.fieldCount ? list.fieldTypes[f] : 0);
  list.rows->push_back(itemP);
  return static_cast<int32_t>(list.rows->size()) - 1;
}

int32_t VList_GetCount(const VList& list) {
  TraceScope t("ValueList.VList_GetCount");
  return list.rows ? static_cast<int32_t>(list.rows->size()) : 0;
}

bool _VList_FindField(const VList& list, int32_t row, int32_t id,
                      int32_t& type, VSlot*& slot) {
  TraceScope t("ValueList._VList_FindField");
  const int32_t f = VList_FindFieldByID(list, id);
  if (f == Basic::K_AUTO || row < 0 || row >= VList_GetCount(list))
    return false;
  type = list.fieldTypes[f];
  slot = &(*list.rows)[static_cast<size_t>(row)][f];
  return true;
}

void VList_SetInt(VList& list, int32_t row, int32_t id, int32_t value) {
  TraceScope t("ValueList.VList_SetInt");
  int32_t type = 0;
  VSlot* slot = nullptr;
  if (!_VList_FindField(list, row, id, type, slot)) return;
  if (type != kTypeInt) {
    TypeError(__LINE__);
    return;
  }
  slot->vInt = value;
}

void VList_SetStr(VList& list, int32_t row, int32_t id,
                  const std::string& text) {
  TraceScope t("ValueList.VList_SetStr");
  int32_t type = 0;
  VSlot* slot = nullptr;
  if (!_VList_FindField(list, row, id, type, slot)) return;
  if (type != kTypeStr) {
    TypeError(__LINE__);
    return;
  }
  // The slot owns its buffer, so the tracker records the slot as owner.
  Basic::MemFree(slot->vStrP);
  if (Basic::MemAlloc(slot->vStrP, static_cast<int64_t>(text.size()) + 1,
                      __LINE__, Basic::kMemString,
                      "ValueList.VList_SetStr.valueP^.vStrP") != Basic::kMemOk)
    return;
  std::memcpy(slot->vStrP, text.c_str(), text.size() + 1);
}

int32_t VList_GetInt(const VList& list, int32_t row, int32_t id,
                     int32_t defaultValue) {
  TraceScope t("ValueList.VList_GetInt");
  int32_t type = 0;
  VSlot* slot = nullptr;
  if (!_VList_FindField(list, row, id, type, slot)) return defaultValue;
  if (type != kTypeInt) {
    TypeError(__LINE__);
    return defaultValue;
  }
  return slot->vInt;
}

void VList_GetStr(const VList& list, int32_t row, int32_t id, std::string& text,
                  const std::string& defaultText) {
  TraceScope t("ValueList.VList_GetStr");
  int32_t type = 0;
  VSlot* slot = nullptr;
  if (!_VList_FindField(list, row, id, type, slot)) {
    text = defaultText;
    return;
  }
  if (type != kTypeStr) {
    TypeError(__LINE__);
    return;
  }
  text = slot->vStrP ? std::string(slot->vStrP) : std::string();
}

int32_t VList_FindInt(const VList& list, int32_t id, int32_t value,
                      int32_t defaultRow) {
  TraceScope t("ValueList.VList_FindInt");
  const int32_t f = VList_FindFieldByID(list, id);
  if (f == Basic::K_AUTO || list.fieldTypes[f] != kTypeInt) return defaultRow;
  const int32_t n = VList_GetCount(list);
  for (int32_t r = 0; r < n; r++)
    if ((*list.rows)[static_cast<size_t>(r)][f].vInt == value) return r;
  return defaultRow;
}

void VList_Prepare2(VList& list) {
  TraceScope t("ValueList.VList_Prepare2");
  VList_Alloc(list);
  VList_AddField(list, 0, kTypeStr);
  VList_AddField(list, 1, kTypeInt);
}

void VList_Add2(VList& list, const std::string& name, int32_t value) {
  TraceScope t("ValueList.VList_Add2");
  const int32_t row = VList_Append(list);
  VList_SetStr(list, row, 0, name);
  VList_SetInt(list, row, 1, value);
}

}  // namespace ValueList
