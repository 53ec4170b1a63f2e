// The WAV reader's and writer's lifetime, written once for both systems: opening after closing
// whatever was open, the checks that a file is open, the frame counts, the late truncation
// warning and the framing of the back end's reasons. The bytes are the back end's
// (files/wav_file_backend.h).
#include "files/wav_file.h"

#include "files/wav_file_backend.h"
#include "files/wav_format.h"

namespace qv {

namespace {

std::string NotOpen(const std::string& path, const char* what) {
    return (path.empty() ? std::string(what) : path) + ": not open";
}

}  // namespace

WavReader::WavReader() = default;
WavReader::~WavReader() { CloseWavReader(*this); }

void CloseWavReader(WavReader& reader) {
    reader.File.reset();
    reader.Rate = kFramesPerSecond;
    reader.Frames = 0;
    reader.FramesRead = 0;
    reader.Warning.clear();
    reader.LateWarning.clear();
}

bool OpenWavReader(WavReader& reader, const std::string& path, std::string& error) {
    CloseWavReader(reader);
    reader.Path = path;
    return OpenWavReaderFile(reader, error);
}

long long WavFrameCount(const WavReader& reader) { return reader.Frames; }

long long ReadWavFrames(WavReader& reader, Frame* out, long long maxFrames, std::string& error) {
    if (reader.File == nullptr) {
        error = NotOpen(reader.Path, "WAV reader");
        return -1;
    }
    if (maxFrames <= 0) return 0;
    std::string reason;
    const long long done =
        reader.File->Read(out, maxFrames, reader.FramesRead, reader.Frames, reason);
    if (done < 0) {
        error = reader.Path + ": read failed: " + reason;
        return -1;
    }
    reader.FramesRead += done;
    // A short read is the end of the file; before the frames counted at the open, another
    // program has shortened it.
    NoteLateTruncation(reader, done, maxFrames);
    return done;
}

WavWriter::WavWriter() = default;
WavWriter::~WavWriter() {
    std::string ignored;
    CloseWavWriter(*this, ignored);
}

bool OpenWavWriter(WavWriter& writer, const std::string& path, std::string& error) {
    return OpenWavWriter(writer, path, kFramesPerSecond, error);
}

bool OpenWavWriter(WavWriter& writer, const std::string& path, int framesPerSecond,
                   std::string& error) {
    std::string closeError;
    CloseWavWriter(writer, closeError);
    writer.Path = path;
    writer.Rate = framesPerSecond;
    writer.FramesWritten = 0;
    return OpenWavWriterFile(writer, error);
}

bool WriteWavFrames(WavWriter& writer, const Frame* frames, long long count, std::string& error) {
    if (writer.File == nullptr) {
        error = NotOpen(writer.Path, "WAV writer");
        return false;
    }
    if (count <= 0) return true;
    std::string reason;
    long long written = 0;
    const bool ok = writer.File->Write(frames, count, writer.FramesWritten, written, reason);
    if (written > 0) writer.FramesWritten += written;
    if (!ok) {
        error = writer.Path + ": cannot write: " + reason;
        return false;
    }
    return true;
}

bool UpdateWavHeader(WavWriter& writer, std::string& error) {
    if (writer.File == nullptr) {
        error = NotOpen(writer.Path, "WAV writer");
        return false;
    }
    std::string reason;
    if (!writer.File->UpdateHeader(writer.FramesWritten, reason)) {
        error = writer.Path + ": cannot update the header: " + reason;
        return false;
    }
    return true;
}

bool CloseWavWriter(WavWriter& writer, std::string& error) {
    if (writer.File == nullptr) return true;
    std::string reason;
    const bool finished = writer.File->Finish(writer.FramesWritten, reason);
    writer.File.reset();
    if (!finished) {
        error = writer.Path + ": cannot finish the file: " + reason;
        return false;
    }
    return true;
}

}  // namespace qv
