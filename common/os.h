// The operating system under the program: everything it asks of Linux or Windows, declared once.
// Two back-ends implement it, common/os_posix.cpp (Linux) and common/os_win32.cpp (Windows),
// with common/os_descriptors.cpp for the calls both C runtimes have alike; the code above them (the
// output checks, the I/Q journal, the stop signals, the tools' console) is written once.
//
// Files are read and written through the C runtime's file descriptors on both systems, opened,
// written, synced and closed only through the calls below: no file above includes a system
// header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace qv::os {

// ---------------------------------------------------------------------------------------------
// Descriptors: the files the program writes and reads, as the C runtime's file descriptors on
// both systems. A failure gives -1 with the system's reason in errno.

// How a descriptor is opened: one access, and any of the rest.
enum OpenFlag : unsigned {
    kReadOnly = 0,
    kWriteOnly = 1,
    kReadWrite = 2,
    kAccess = 3,  // the access of a set of flags
    kCreate = 0x10,
    kTruncate = 0x20,
    kAppend = 0x40,
    // With kCreate: never over anything under the name, and never through a link.
    kExclusive = 0x80,
};
// Opens `path` not inherited by programs this one starts (Windows: in binary mode, which writes
// no CR before an LF) and without waiting for a FIFO's other end; a new file may be read and
// written by all. Reads and writes do not wait either until MakeBlocking.
int OpenDescriptor(const std::string& path, unsigned flags);
// Writes up to `count` bytes at the file's position: how many, or -1.
int64_t WriteSome(int fd, const void* data, size_t count);
// Reads up to `count` bytes at `offset`: how many (0 at the end), or -1. (Windows: the file
// position moves; the program reads this way only from files it appends to, where append mode
// writes at the end regardless, or reads from start to end.)
int64_t ReadAt(int fd, void* buffer, size_t count, int64_t offset);
// Cuts or extends the open file to `size` bytes: 0, or -1.
int Truncate(int fd, int64_t size);
// The file's data to the disk (Windows flushes the metadata with it): 0, or -1 (EINVAL: a
// device, which cannot be synced).
int SyncData(int fd);
// 0, or -1 (a full disk may show only here).
int CloseDescriptor(int fd);

// What a name or an open descriptor is.
enum class FileKind { Regular, Folder, Fifo, CharacterDevice, BlockDevice, Socket, Other };
// The kind and size [bytes] of the open `fd`; false (errno) when they cannot be told.
bool KindOfOpen(int fd, FileKind& kind, int64_t& size);
// The kind of what is under `path`, through a link; false (errno) when nothing is.
bool KindOfName(const std::string& path, FileKind& kind);

// ---------------------------------------------------------------------------------------------
// Processes, time

// Makes the reads and writes of `fd` wait again, after an open with O_NONBLOCK (which asks only
// that the open itself not wait for the other end of a FIFO).
void MakeBlocking(int fd);

// Why an open of `path` failed with the errno value `code`: the system's words, except where
// they mislead ("No such device or address" for a FIFO that no program reads, or a socket).
std::string OpenFailure(const std::string& path, int code);

long ProcessId();

// The calendar time of `t`, local or UTC (any time, also before 1970).
void LocalTime(time_t t, tm& out);
void UtcTime(time_t t, tm& out);

// A thread's mask of asynchronous signals (Windows delivers none to a program's threads: there
// the mask is empty and blocking does nothing).
struct SignalMask {
    uint64_t Bits[16] = {};
};
// Blocks every signal on the calling thread and returns its mask as it was.
SignalMask BlockAllSignals();
void RestoreSignals(const SignalMask& mask);

// True when standard error is a terminal that can show a line rewritten in place (a carriage
// return, and the escape sequence that clears to the end of the line). On Windows: a console,
// whose escape-sequence processing this turns on (Windows 10 and later have it; without it,
// false). The C runtime's isatty would also say yes for the NUL device.
bool StderrIsTerminal();

// The console of a program's messages, made ready first thing in main. Windows: on a console,
// std::cout's and std::cerr's UTF-8 shows as the letters it is, whatever the console's code
// page, so that a path beyond ASCII reads right; a file or pipe gets the UTF-8 bytes, as on
// Linux. A window program (Windows subsystem) started from a console attaches to that console:
// its messages show there, unless redirected, and the console's Ctrl-C reaches its stop
// handlers. Linux: nothing to do.
void PrepareConsole();

// True when the program's console is its own: made for it alone, as when it was started from
// Explorer, and gone with its messages the moment it ends. Linux: false.
bool ConsoleOfItsOwn();

// "Press a key to close this window." on standard error, then waits for a key on the console.
// Returns at once when there is no console to read.
void WaitForKeyBeforeClosing();

// Starts `argv` (argv[0] looked for on the search path) in a session or process group of its
// own, so that a Ctrl-C meant for us does not reach it, with its input and output on the null
// device, not inheriting our files, and does not wait for it; it never lingers as a zombie.
// False with "argv[0]: cannot start: reason".
bool StartDetached(const std::vector<std::string>& argv, std::string& error);
// Whether `path` is a program that may be run (Linux: executable by us).
bool IsProgram(const std::string& path);

// ---------------------------------------------------------------------------------------------
// Processors and time

// [processors] this process may run on, at least 1: those its affinity allows (a container's
// or `taskset`'s limit), not all the machine has.
int UsableProcessors();
// [s] CPU time the calling thread has used (both systems: the C runtime's thread CPU clock).
double ThreadCpuSeconds();

// ---------------------------------------------------------------------------------------------
// Names and what is under them

// What identifies a file under a name: two names with the same identity are one file.
struct FileId {
    bool Exists = false;  // false: nothing under the name, or a device name (below)
    // A device many writers may share (Linux: a character device such as /dev/null; Windows: a
    // device such as NUL or CON): never one file with anything, writing it twice destroys nothing.
    bool Shared = false;
    uint64_t Volume = 0;  // device / volume serial number
    uint64_t Index = 0;   // inode / file index
};
// The identity of the file under `path`, through a symbolic link (`followLink`) or of the link
// itself.
FileId IdentifyName(const std::string& path, bool followLink);
inline bool SameId(const FileId& a, const FileId& b) {
    return a.Exists && b.Exists && a.Volume == b.Volume && a.Index == b.Index;
}
// A resolved absolute path as names are compared on this system (Windows: in one case, with one
// kind of separator).
std::string ComparablePath(const std::string& resolved);

// Whether anything is under the name `path` (a link, dangling or not, included).
bool Exists(const std::string& path);
// Removes the file under `path`; false when it cannot.
bool Remove(const std::string& path);

enum class Rename {
    Done,
    NameTaken,  // something is under the new name: try another
    Failed,     // `reason` says why
};
// Renames `from` to `to`, never over an existing file.
Rename RenameNoReplace(const std::string& from, const std::string& to, std::string& reason);

// The output checks' probes, which change nothing on the disk. Each gives "" when it succeeds,
// else the system's reason in words as the messages show it.
enum class Probe {
    Writable,  // an existing file (or device) that opened for writing as it is
    Missing,   // nothing under the name
    Refused,   // something is under it, or its folder is, that cannot be written: `reason`
};
// Opens what is under `path` for writing without truncating it (nor waiting for a FIFO's
// reader) and closes it again.
Probe ProbeExisting(const std::string& path, std::string& reason);
// Creates `path` as a new file and removes it again.
std::string ProbeNew(const std::string& path);
// Makes the folder `path`, whose parent exists.
std::string MakeFolder(const std::string& path);
// Why `path` is not a folder that exists; "" when it is.
std::string NotAFolder(const std::string& path);
// Removes the empty folder `path`.
void RemoveFolder(const std::string& path);
// The user's Documents folder, where the window keeps its measurements on Windows (the known
// folder Documents, wherever the user has moved it); false with the reason in `error` when the
// system cannot tell it. Linux has no such rule: true with "" (the current directory stays).
bool DocumentsFolder(std::string& folder, std::string& error);

// ---------------------------------------------------------------------------------------------
// Files held open and locked (the I/Q journal): one exclusive lock per file, which reading it
// never waits for, and which ends when the file is closed or the process ends.

// An open file: a file descriptor on Linux, a file handle on Windows.
using Handle = intptr_t;
inline constexpr Handle kNoHandle = -1;

enum class Open {
    Done,          // open in `file`
    NameTaken,     // CreateNew: something is under the name already
    Missing,       // OpenPlainFile: nothing under the name
    NotPlainFile,  // OpenPlainFile: a link, a folder, a FIFO, a socket, a device
    Failed,        // `reason` says why
};
// Creates `path` as a new, empty file for writing: never over anything under the name, never
// through a link. Not inherited by programs this one starts.
Open CreateNew(const std::string& path, Handle& file, std::string& reason);
// Opens the plain file under `path` for reading, without following a link and without waiting.
Open OpenPlainFile(const std::string& path, Handle& file, std::string& reason);

enum class Locking { Taken, Busy, Failed };
// Takes the exclusive lock of the open `file` without waiting: Busy when another open file
// holds it.
Locking TryLock(Handle file, std::string& reason);
// The identity of the open `file`.
FileId IdentifyOpen(Handle file);
// The size of the open `file` [bytes]; 0 when it cannot be told.
int64_t FileSize(Handle file);
// Closes the open `file`, which ends its lock.
void Close(Handle file);
// The open `file` as a binary C stream for writing (not truncated), or nullptr with `reason`
// (the file then closed).
std::FILE* WritingStream(Handle file, std::string& reason);
// The open file under a C stream.
Handle HandleOf(std::FILE* stream);

// ---------------------------------------------------------------------------------------------
// Stop requests: the system's ways of asking the program to end. Linux: SIGINT, SIGTERM and
// SIGHUP, with SIGPIPE ignored while the handlers are installed. Windows: the console's control
// events (Ctrl-C, Ctrl-Break, closing the console window, log-off and shut-down).

// Called for every stop request, with its number, on whichever thread the system delivers it:
// only lock-free atomics and os::Wake are safe there. For the events after which Windows ends
// the process as soon as the handler returns, the back-end never returns: it holds the process
// while the main thread does the close-time work, and the program's normal exit ends it.
using StopCallback = void (*)(int request);
// Installs `onStop` for every stop request; false when the system refuses.
bool InstallStopHandlers(StopCallback onStop);
// Puts back the handlers that installing replaced, or (`keepIgnoring`) leaves the stop requests
// ignored (Linux: SIGPIPE with them; Windows: the handler stays, a late request answered) so
// that nothing can end the process before its exit.
void RemoveStopHandlers(bool keepIgnoring);
// The request's name for messages ("SIGINT", "Ctrl-C"), nullptr for one the system has no
// name for.
const char* StopRequestName(int request);
// The ways to end a run cleanly, for the messages.
const char* StopRequestsHint();

// A pipe whose read end an event loop watches, woken from a stop callback; both ends
// non-blocking and not inherited. False when it cannot be made. Windows has none: both ends -1
// there, and the event loop polls instead.
bool MakeWakePipe(int ends[2]);
// Writes one byte to the pipe's write end `fd`, leaving errno as it was (a full pipe has a
// wake-up waiting already).
void Wake(int fd);
// Reads everything waiting in the pipe's read end `fd`.
void DrainWake(int fd);
// Closes one end of the pipe.
void CloseWakeEnd(int fd);

}  // namespace qv::os
