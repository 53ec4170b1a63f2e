// Streaming WAV reading and writing of stereo recordings (RF left, PPS right) at 8000 frames
// per second or at a sound card's own rate.
//
// Reading accepts WAV files (RIFF, WAVE_FORMAT_EXTENSIBLE and RF64; on Linux also any other
// container libsndfile reads), as long as they are stereo, at one of the rates of kInputRates
// (8000, 11025, 16000, 22050, 32000, 44100, 48000, 88200, 96000, 176400 or 192000 frames per
// second; WavReader::Rate says which, and the chain converts it to 8000), and PCM
// (8/16/24/32-bit) or float/double. A recording at any other rate is refused with one line that
// lists the rates and a conversion command:
//   "rec.wav: 50000 frames per second: recordings at 8000, 11025, ... or 192000 are read;
//    convert it first, e.g. sox in.wav -r 48000 out.wav"
// Everything is delivered as 16-bit frames at the file's own rate:
// - 16-bit PCM passes unchanged;
// - other PCM widths are scaled to 16 bits, rounded to nearest (halves away from zero) and
//   clipped to [-32768, 32767];
// - float and double samples become round(f * 32767), clipped to [-32768, 32767]. Full scale
//   1.0 maps to 32767 (not 32768) because the signal chain divides by 32767 to get back to
//   full scale, so a float recording keeps its scale exactly.
//
// A truncated WAV (its data chunk promises more bytes than the file holds, as happens when a
// copy or a download stops early) is read as far as it goes: OpenWavReader succeeds, the
// frames present are delivered, and WavReader::warning holds the line
//   "cut.wav: truncated: the header promises N frames, the file holds M"
// which the caller should show. A file that another program shortens while it is being read
// (the frames counted at the open are not all there any more) is read as far as it goes too;
// the read that finds the early end sets WavReader::LateWarning to
//   "rec.wav: truncated while being read: the file held N frames when it was opened, M could
//    be read"
// A header that cannot be used is explained in plain words where the header says why ("rec.wav: not
// a usable WAV header: sample rate 0"). Every other problem is a one-line error naming the file.
//
// Writing produces stereo 16-bit PCM at 8000 Hz or at the rate given (a card's own). The file is
// written as RF64 with automatic downgrade, so a recording below 4 GiB (about 37 hours at 8000
// Hz, 6 at 48000) is an ordinary RIFF WAV, and a longer one becomes RF64 instead of overflowing
// the 32-bit WAV size fields.
#pragma once

#include <memory>
#include <string>

#include "common/frame.h"

namespace qv {

// The open file as the system's WAV back end keeps it (its handle, encoding and conversion
// buffers), behind the interface of files/wav_file_backend.h.
struct WavReaderFile;
struct WavWriterFile;

struct WavReader {
    // parameters
    std::string Path;  // as given to OpenWavReader, used in every message
    // state
    std::unique_ptr<WavReaderFile> File;  // null while nothing is open
    int Rate = kFramesPerSecond;          // [frames/s] the file's, one of kInputRates
    long long Frames = 0;      // [frames] present in the file (what a full read delivers)
    long long FramesRead = 0;  // [frames] delivered so far
    std::string Warning;       // one line, empty unless the file is truncated
    std::string LateWarning;   // one line, empty unless it was truncated while being read

    WavReader();
    WavReader(const WavReader&) = delete;
    WavReader& operator=(const WavReader&) = delete;
    ~WavReader();
};

// Opens `path` for reading (closing whatever `reader` had open). On failure returns false with
// one line in `error`, e.g. "pps.wav: 1 channel(s); a stereo recording is needed".
bool OpenWavReader(WavReader& reader, const std::string& path, std::string& error);

// Reads up to `maxFrames` frames into `out`. Returns the number read, 0 at the end of the file,
// or -1 with one line in `error`.
long long ReadWavFrames(WavReader& reader, Frame* out, long long maxFrames, std::string& error);

// The number of frames a full read delivers (for a truncated file: the frames present).
long long WavFrameCount(const WavReader& reader);

void CloseWavReader(WavReader& reader);

struct WavWriter {
    // parameters
    std::string Path;             // as given to OpenWavWriter, used in every message
    int Rate = kFramesPerSecond;  // [frames/s] in the header, as given to OpenWavWriter
    // state
    std::unique_ptr<WavWriterFile> File;  // null while nothing is open
    long long FramesWritten = 0;          // [frames]

    WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;
    // Closes the file if CloseWavWriter was not called; errors at that point are lost.
    ~WavWriter();
};

// Creates (or replaces) `path` as a stereo 16-bit PCM WAV file at 8000 frames per second, or at
// `framesPerSecond` (one of kInputRates: a card's own rate).
bool OpenWavWriter(WavWriter& writer, const std::string& path, std::string& error);
bool OpenWavWriter(WavWriter& writer, const std::string& path, int framesPerSecond,
                   std::string& error);

// Appends `count` frames.
bool WriteWavFrames(WavWriter& writer, const Frame* frames, long long count, std::string& error);

// Rewrites the header for the frames written so far, so the file is complete and readable even
// if the program dies before CloseWavWriter. Cheap enough to call every few seconds.
bool UpdateWavHeader(WavWriter& writer, std::string& error);

// Finalises the header and closes the file. Closing a writer that is not open succeeds.
bool CloseWavWriter(WavWriter& writer, std::string& error);

}  // namespace qv
