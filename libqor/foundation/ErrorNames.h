// Every error pair the library raises, by name, with its text: the one
// table the raising code takes its pairs from and ErrText reads its texts
// from (classes 4 to 17; class 14 reads the texts of class 12). A name
// stands where a bare (class, number) pair would.
#pragma once

#include <cstdint>

#include "foundation/Errors.h"

// NAME, class, number, text. The texts of the file class's numbers 1, 2, 6
// and 7 are followed by the last file name. A class that reads another's
// texts (QOR_ERROR_SHARED_TEXTS) gives its rows none of their own: null.
#define QOR_ERROR_TABLE(E) \
  E(kErrOutOfRange, kClsGeneral, 1, "Out of range.")                                                          \
  E(kErrNotSupported, kClsGeneral, 2, "Not supported.")                                                       \
  E(kErrInvalidVariableType, kClsGeneral, 3, "Invalid variable type.")                                        \
  E(kErrMemAlloc, kClsMemory, 1, "Memory allocation fault.")                                                  \
  E(kErrMemManager, kClsMemory, 2, "Memory manager fault.")                                                   \
  E(kErrMemRealloc, kClsMemory, 3, "Memory reallocation fault.")                                              \
  E(kErrMemFree, kClsMemory, 4, "Memory could not be deallocated.")                                           \
  E(kErrMemInvalidRequest, kClsMemory, 5, "Invalid memory request.")                                          \
  E(kErrMemFatal, kClsMemory, 6, "Fatal memory manager error.")                                               \
  E(kErrFileOpen, kClsFile, 1, "Cannot open file: ")                                                          \
  E(kErrFileCreate, kClsFile, 2, "Cannot create file: ")                                                      \
  E(kErrFileRead, kClsFile, 3, "Cannot read from file.")                                                      \
  E(kErrFileWrite, kClsFile, 4, "Cannot write to file.")                                                      \
  E(kErrFileSeek, kClsFile, 5, "Cannot seek in file.")                                                        \
  E(kErrFileDelete, kClsFile, 6, "Cannot delete file: ")                                                      \
  E(kErrFileAppend, kClsFile, 7, "Cannot append to file: ")                                                   \
  E(kErrFileClose, kClsFile, 8, "Cannot close file.")                                                         \
  E(kErrFileNotExist, kClsFile, 9, "File not exist.")                                                         \
  E(kErrFileRename, kClsFile, 10, "File name change failed.")                                                 \
  E(kErrFileFatal, kClsFile, 11, "Fatal file manager fault.")                                                 \
  E(kErrImageNotSupported, kClsImage, 1, "Image format not supported.")                                       \
  E(kErrImageInvalid, kClsImage, 2, "Invalid image format.")                                                  \
  E(kErrImageDecompress, kClsImage, 3, "Cannot decompress image data.")                                       \
  E(kErrImageHeader, kClsImage, 4, "Image header invalid.")                                                   \
  E(kErrImageCompress, kClsImage, 5, "Cannot compress image data.")                                           \
  E(kErrImageFunctionInit, kClsImage, 6, "Cannot initialize image function.")                                 \
  E(kErrImageCompressInit, kClsImage, 7, "Cannot initialize image compression data.")                         \
  E(kErrImageOpen, kClsImage, 8, "Cannot open image file.")                                                   \
  E(kErrImageCorrupted, kClsImage, 9, "Image data corrupted.")                                                \
  E(kErrImagePalette, kClsImage, 10, "Cannot realize palette.")                                               \
  E(kErrImageCreate, kClsImage, 11, "Cannot create image file.")                                              \
  E(kErrAudioConversion, kClsAudio, 1, "Audio conversion error.")                                             \
  E(kErrAudioConversionAcm, kClsAudio, 2, "Audio conversion error (ACM).")                                    \
  E(kErrAudioConversionWave, kClsAudio, 3, "Audio conversion error (WAVE).")                                  \
  E(kErrAudioFormat, kClsAudio, 4, "Invalid audio format.")                                                   \
  E(kErrAviRead, kClsAvi, 1, "Cannot read from AVI file.")                                                    \
  E(kErrAviWrite, kClsAvi, 2, "Cannot write to AVI file.")                                                    \
  E(kErrAviAudioRead, kClsAvi, 3, "Cannot read audio data from AVI file.")                                    \
  E(kErrAviAudioWrite, kClsAvi, 4, "Cannot write audio data to AVI file.")                                    \
  E(kErrAviOpen, kClsAvi, 5, "Cannot open AVI file.")                                                         \
  E(kErrAviCreate, kClsAvi, 6, "Cannot create AVI file.")                                                     \
  E(kErrAviCodecInit, kClsAvi, 7, "Cannot initialize AVI codec.")                                             \
  E(kErrAviAudioIgnored, kClsAvi, 8, "AVI audio stream not valid (decompressor not found?), ignoring audio")  \
  E(kErrMovieFormat, kClsMovie, 1, "Invalid movie format.")                                                   \
  E(kErrMovieWrite, kClsMovie, 2, "Cannot write to movie file.")                                              \
  E(kErrMovieDecompress, kClsMovie, 3, "Cannot decompress movie image data.")                                 \
  E(kErrMovieCompress, kClsMovie, 4, "Cannot compress movie image data.")                                     \
  E(kErrMovieNotSupported, kClsMovie, 5, "Movie format not supported.")                                       \
  E(kErrMovieOpen, kClsMovie, 6, "Cannot open movie file.")                                                   \
  E(kErrMovieEnd, kClsMovie, 7, "End of movie reached.")                                                      \
  E(kErrMovieCreate, kClsMovie, 8, "Cannot create movie file.")                                               \
  E(kErrWavOpen, kClsWav, 1, "Cannot open WAV file.")                                                         \
  E(kErrWavCreate, kClsWav, 2, "Cannot create WAV file.")                                                     \
  E(kErrWavRead, kClsWav, 3, "Cannot read from WAV file.")                                                    \
  E(kErrWavWrite, kClsWav, 4, "Cannot write to WAV file.")                                                    \
  E(kErrWavSeek, kClsWav, 5, "Cannot seek in WAV file.")                                                      \
  E(kErrWriterFormat, kClsMovie2, 1, nullptr)                                                                 \
  E(kErrWriterWrite, kClsMovie2, 2, nullptr)                                                                  \
  E(kErrKwbEnd, kClsKwb, 1, "End of KWB movie reached.")                                                      \
  E(kErrUniProtocol, kClsUni, 1, "UNI protocol fault.")                                                       \
  E(kErrFlicEnd, kClsFlic, 1, "End of FLIC movie reached.")                                                  

// The text of a class's numbers the table does not list.
#define QOR_ERROR_CLASS_TEXTS(C) \
  C(4, "General \"GEN\" error.")                                                                              \
  C(5, "General memory fault.")                                                                               \
  C(6, "General file handling fault.")                                                                        \
  C(7, "General image handling fault.")                                                                       \
  C(8, "General audio handling fault.")                                                                       \
  C(9, "General AVI handling fault.")                                                                         \
  C(12, "General \"MVI\" handling fault.")                                                                    \
  C(13, "general \"WAV\" handling fault.")                                                                    \
  C(15, "General \"KWB\" handling fault.")                                                                    \
  C(16, "General \"UNI\" handling fault.")                                                                    \
  C(17, "General \"FLIC\" handling fault.")                                                                  

// Classes that read the texts of another class: CLASS, the class it reads.
#define QOR_ERROR_SHARED_TEXTS(S) S(kClsMovie2, kClsMovie)

namespace Errors {

struct ErrorName {
  int32_t cls;
  int32_t code;
};

#define QOR_ERROR_NAME(NAME, CLS, CODE, TEXT) inline constexpr ErrorName NAME{CLS, CODE};
QOR_ERROR_TABLE(QOR_ERROR_NAME)
#undef QOR_ERROR_NAME

inline void ErrSet(ErrorName error, int32_t sourceLine) {
  ErrSet(error.cls, error.code, sourceLine);
}
inline void WarnSet(ErrorName error, int32_t sourceLine) {
  WarnSet(error.cls, error.code, sourceLine);
}
inline void ErrSetFromWarning(ErrorName error, int32_t sourceLine) {
  ErrSetFromWarning(error.cls, error.code, sourceLine);
}

}  // namespace Errors
