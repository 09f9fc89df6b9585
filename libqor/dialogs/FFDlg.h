// One option dialog per output format. Each shows the caller's values,
// writes the user's choice back only on OK and returns whether OK was
// chosen; a failure gives false and its text is shown in an error box.
#pragma once

#include <cstdint>

namespace FFDlg {

bool FFDlgTGA(int32_t& codec);
bool FFDlgTIF(int32_t& compression);
bool FFDlgSGI(int32_t& codec);
bool FFDlgRAS(int32_t& codec);
bool FFDlgPNM(int32_t& codec);
bool FFDlgJPG(int32_t& quality);
bool FFDlgPNG(int32_t& level);
bool FFDlgOGG(int32_t& quality, int32_t min, int32_t max);
bool FFDlgKWB(int32_t& codec, int32_t& keyFrameRate);
bool FFDlgMPG(int32_t& type, int32_t& bitRate);
bool FFDlgMPA(int32_t& bitRate, int32_t min, int32_t max);

}  // namespace FFDlg
