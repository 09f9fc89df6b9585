// The library's dialogs sit above the formats and the engine, in the window
// module. The layers below open them through these hooks, which the layer
// above fills: with the dialogs themselves where they are built in, with
// gates that load the window module where they are not. A hook not filled
// refuses as a dialog without a Qt application does: "Not supported."
#pragma once

#include <cstdint>
#include <string>

// The option dialogs of the output formats and the AVI codec dialog; each
// shows the caller's values, writes the user's choice back only on OK and
// returns whether OK was chosen. NS is the dialogs' unit that holds it,
// FRAME the quiet frame a refusal is recorded in.
#define QOR_FORMAT_DIALOGS(DIALOG)                                                                      \
  DIALOG(FFDlg, FFDlgTGA, (int32_t & codec), (codec), "FFDlg.FFDlgTGA")                                 \
  DIALOG(FFDlg, FFDlgTIF, (int32_t & compression), (compression), "FFDlg.FFDlgTIF")                     \
  DIALOG(FFDlg, FFDlgSGI, (int32_t & codec), (codec), "FFDlg.FFDlgSGI")                                 \
  DIALOG(FFDlg, FFDlgRAS, (int32_t & codec), (codec), "FFDlg.FFDlgRAS")                                 \
  DIALOG(FFDlg, FFDlgPNM, (int32_t & codec), (codec), "FFDlg.FFDlgPNM")                                 \
  DIALOG(FFDlg, FFDlgJPG, (int32_t & quality), (quality), "FFDlg.FFDlgJPG")                             \
  DIALOG(FFDlg, FFDlgPNG, (int32_t & level), (level), "FFDlg.FFDlgPNG")                                 \
  DIALOG(FFDlg, FFDlgOGG, (int32_t & quality, int32_t min, int32_t max), (quality, min, max),           \
         "FFDlg.FFDlgOGG")                                                                              \
  DIALOG(FFDlg, FFDlgKWB, (int32_t & codec, int32_t & keyFrameRate), (codec, keyFrameRate),             \
         "FFDlg.FFDlgKWB")                                                                              \
  DIALOG(FFDlg, FFDlgMPG, (int32_t & type, int32_t & bitRate), (type, bitRate), "FFDlg.FFDlgMPG")       \
  DIALOG(FFDlg, FFDlgMPA, (int32_t & bitRate, int32_t min, int32_t max), (bitRate, min, max),           \
         "FFDlg.FFDlgMPA")                                                                              \
  DIALOG(wDlgAVI, DlgAVI, (int32_t width, int32_t height, int32_t bits, DialogHooks::AviTexts & texts), \
         (width, height, bits, texts), "wDlgAVI.DlgAVI")

namespace DialogHooks {

// The AVI writer's author texts: Artist, Comment, Copyright, Engineer, Name,
// Product, Subject.
using AviTexts = std::string[7];

#define QOR_DIALOG_HOOK_SLOT(NS, NAME, PARAMS, ARGS, FRAME) bool(*NAME) PARAMS = nullptr;
struct Formats {
  QOR_FORMAT_DIALOGS(QOR_DIALOG_HOOK_SLOT)
};
#undef QOR_DIALOG_HOOK_SLOT

// Fills the hooks; null empties them again. The table must outlive its use.
void InstallFormats(const Formats* hooks);

// Each dialog through its hook.
#define QOR_DIALOG_HOOK_DECLARE(NS, NAME, PARAMS, ARGS, FRAME) bool NAME PARAMS;
QOR_FORMAT_DIALOGS(QOR_DIALOG_HOOK_DECLARE)
#undef QOR_DIALOG_HOOK_DECLARE

// The refusal of a dialog that cannot be shown: the pair (4, 2) "Not
// supported." recorded in a quiet frame of that name; returns false.
bool Refuse(const char* frame);

}  // namespace DialogHooks
