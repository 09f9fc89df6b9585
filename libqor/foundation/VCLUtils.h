// Message boxes, the cursor, enabling controls and pointer-list helpers for
// the library's forms.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class QComboBox;
class QLineEdit;
class QPainter;
class QWidget;

namespace VCLUtils {

// The untyped pointer list of the forms' code.
using TList = std::vector<void*>;

std::string _GetAppTitle();
void ShowErrorBox(const std::string& text);
std::string GetExceptionText();
// "Y" when Yes was chosen; default 1 makes Yes the default button.
std::string YesNo(const std::string& text, int32_t defaultButton);
void ProcessMessages();
void CursorWait();
void CursorNormal();

// colour: a Windows colour value (red in the low byte).
void ClearDC(QPainter* dc, int32_t left, int32_t top, int32_t width,
             int32_t height, uint32_t colour);

void TComboBox_Enable(QComboBox* control, bool flag);
void TEdit_Enable(QLineEdit* control, bool flag);
// A memo is a multi-line edit (QPlainTextEdit or QTextEdit).
void TMemo_Enable(QWidget* control, bool flag);
void _TControl_Enable(QWidget* control, bool flag);
void TWinControl_Enable(QWidget* control, bool flag);

void TEdit_SetInt(QLineEdit* edit, int32_t value);
int32_t TEdit_GetInt(QLineEdit* edit, int32_t defaultValue);

void TList_FreeAll_MemFree(TList*& list);
void TList_TestPack(TList* list, int32_t slack);

}  // namespace VCLUtils
