// What the units over the still-image codec layer share: the store for the
// codec libraries' messages, raised as the library's own text errors and
// warnings once a library call has returned. (Preparing an image for a
// writer and removing a failed output are every writer's, in FFBasic.)
#pragma once

#include <cstdint>
#include <string>

namespace Errors {
struct ErrorName;
}  // namespace Errors

namespace CodecCommon {

// ---- library messages ------------------------------------------------------
// The callbacks only store (they run inside the C libraries' frames); the
// unit raises after the library call has returned. The first error and the
// first warning of a call are kept.

void ClearMessages();
// Points the codec layer's message callbacks at this store and clears it,
// before a call into the layer.
void ListenToLayer();
void StoreError(const char* message) noexcept;
void StoreWarning(const char* message) noexcept;
bool HasError();
// Names `to` where the stored error names `from`: a layer that wrote a
// temporary file in the place of the user's output reports the output.
void RenameInStoredError(const std::string& from, const std::string& to);

// Passes a stored warning on as a class-1 text warning.
void PassWarnings(int32_t sourceLine);
// After a failed library call: passes warnings on, then raises the stored
// error as a class-1 text error, or (cls, code) when the library left no
// message.
void RaiseFailure(Errors::ErrorName error, int32_t sourceLine);

}  // namespace CodecCommon
