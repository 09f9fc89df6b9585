// Interim: the quantiser is being written; until it lands a conversion to an
// optimised palette reports "Not supported.".
#include "media/PalOpt.h"

#include "foundation/Errors.h"

namespace PalOpt {

void ConvTo8bit(const ImgBasic::Qimg*, ImgBasic::Qimg*, int32_t) {
  Errors::Monitored("PalOpt.ConvTo8bit",
                    [] { Errors::ErrSet(Errors::kClsGeneral, 2, __LINE__); });
}

}  // namespace PalOpt
