// The small interface between the portable WAV reader and writer (files/wav_file.cpp: their
// lifetime, the checks that they are open, the frame counts and the messages' framing) and the
// one back end each system builds: libsndfile on Linux (files/wav_file_sndfile.cpp), mmio and
// our own RIFF/RF64 code on Windows (files/wav_file_mmio.cpp).
#pragma once

#include <memory>
#include <string>

#include "common/frame.h"
#include "files/wav_file.h"

namespace qv {

// An open recording being read, as the back end keeps it.
struct WavReaderFile {
    virtual ~WavReaderFile() = default;
    // Reads up to `maxFrames` (> 0) frames into `out`, after the `framesRead` delivered so far of
    // the `frames` counted at the open: the number read (short at the end of the file), or -1
    // with the system's or the library's reason in `reason`.
    virtual long long Read(Frame* out, long long maxFrames, long long framesRead, long long frames,
                           std::string& reason) = 0;
};

// An open recording being written, as the back end keeps it.
struct WavWriterFile {
    virtual ~WavWriterFile() = default;
    // Appends `count` (> 0) frames after the `framesBefore` written so far, the whole frames
    // that reached the file in `written` (all of them, or those before a failure); false with
    // the reason in `reason`.
    virtual bool Write(const Frame* frames, long long count, long long framesBefore,
                       long long& written, std::string& reason) = 0;
    // Rewrites the header for `frames` frames; false with the reason in `reason`.
    virtual bool UpdateHeader(long long frames, std::string& reason) = 0;
    // Writes the final header for `frames` frames and closes the file, whatever happens; false
    // with the reason in `reason`.
    virtual bool Finish(long long frames, std::string& reason) = 0;
};

// Opens reader.Path (nothing open in `reader`): on success reader.File, reader.Frames and, for a
// truncated file, reader.Warning are set; on failure one line naming the file is in `error`.
bool OpenWavReaderFile(WavReader& reader, std::string& error);

// Creates (or replaces) writer.Path as a stereo 16-bit PCM WAV file at writer.Rate (nothing open in
// `writer`): on success writer.File is set; on failure one line naming the file is in `error`.
bool OpenWavWriterFile(WavWriter& writer, std::string& error);

}  // namespace qv
