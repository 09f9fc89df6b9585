// Helpers of the media layer tests: running the peer tools, reading their
// output, and comparing sounds and pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace MediaTools {

// Runs a shell command quietly; true when it exits with 0.
bool Run(const std::string& command);
// Runs a shell command and returns what it printed on standard output.
std::string Capture(const std::string& command);
// ffprobe's value of one stream entry (e.g. "codec_name") for the stream
// selected by a stream specifier (e.g. "v:0"), or empty.
std::string Probe(const std::string& file, const std::string& streams,
                  const std::string& entry);
// Number of streams of a kind ("video", "audio") ffprobe sees.
int ProbeStreamCount(const std::string& file, const std::string& kind);
// Frames ffprobe counts by decoding the selected streams.
int64_t ProbeFrameCount(const std::string& file, const std::string& streams);

std::vector<int16_t> ReadS16(const std::string& rawFile);
std::vector<uint8_t> ReadBytes(const std::string& file);
void WriteBytes(const std::string& file, const std::vector<uint8_t>& bytes);

// Frequency of the first channel from its rising zero crossings.
double ZeroCrossingFrequency(const std::vector<int16_t>& samples, int channels,
                             int rate);
// Peak signal-to-noise ratio of two 8-bit buffers of the same size, in dB.
double Psnr(const uint8_t* a, const uint8_t* b, size_t n);

}  // namespace MediaTools
