// What the companion needs from the system it runs on: the complete list a port writes.
// win/ implements it on Win32, posix/ on POSIX, one small file per concern; the portable
// code in cli/ asks for nothing else.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

// --- Files ---------------------------------------------------------------------------------

// Opens the log for following: binary reads, shared with the writing driver. Null with
// `*followable` false for a pipe or a device, which cannot be read again from a saved place
// (never waited on: a FIFO without a writer is refused at once); null with `*followable` true
// when the file cannot be opened.
std::FILE* OpenToFollow(const std::string& path, bool* followable);

// Sets the file position to `offset` bytes from the start, past 2 GiB too; false on failure
// with errno set.
bool SeekFile(std::FILE* file, int64_t offset);

// The length of the open file `file` in bytes, past 4 GiB too; false on failure with errno set.
bool FileLength(std::FILE* file, int64_t* length);

// Flushes `file` and asks the system to put it on the disk; false on failure with errno set.
bool FlushToDisk(std::FILE* file);

// Renames `from` over `to` in one step, replacing an existing `to`; false with errno set.
bool RenameOver(const std::string& from, const std::string& to);

// Puts `stream` into binary mode where the runtime would translate line ends, so CR LF passes
// unchanged and a Ctrl-Z does not end a read early.
void SetBinaryMode(std::FILE* stream);

// What tells one file from every other on the machine, whatever name or link reaches it:
// the device and inode on POSIX, the volume serial number and file index on Windows.
struct FileIdentity {
    uint64_t volume = 0;
    uint64_t index = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The identity of the file at `path`, or of the open `file`; false when it does not exist,
// cannot be reached or the system gives none.
bool IdentifyFile(const std::string& path, FileIdentity* identity);
bool IdentifyOpenFile(std::FILE* file, FileIdentity* identity);

enum class LockResult { Taken, Busy, Failed };
using LockHandle = uintptr_t;  // an int descriptor or a HANDLE

// Opens the file at `path`, created if missing and never truncated, and locks it without
// waiting against every other open of it. Taken: `*lock` holds it until ReleaseLock; Busy:
// someone else holds it; Failed: errno set, nothing held.
LockResult LockExclusively(const std::string& path, LockHandle* lock);
void ReleaseLock(LockHandle lock);

// The log read when the user names none (the driver's log in the Windows directory); empty
// where the system has no such place.
std::string DefaultLogPath();

// --- The run -------------------------------------------------------------------------------

// Three numbers that tell this moment and this process apart from any other run.
void MomentAndProcess(uint64_t seeds[3]);

// From now on the user's stop (Ctrl+C; SIGINT, SIGTERM, SIGHUP; closing the console) sets
// the flag that StopRequested reads.
void CatchStopRequests();
bool StopRequested();
// Following has ended and its place is saved: a shutdown that waits for it may go on.
void SignalFollowingEnded();
// Sleeps `milliseconds`; a stop may cut the sleep short.
void SleepMs(int milliseconds);

// --- Text ----------------------------------------------------------------------------------

// Appends the UTF-8 form of one code page 932 character of `size` (1 or 2) bytes; false,
// appending nothing, when the code page gives it none.
bool AppendCp932CharacterAsUtf8(const char* character, int size, std::string* out);

// Appends `text`, which arrived in the system's ANSI code page (a command-line argument), as
// UTF-8. False, appending nothing, where arguments arrive in UTF-8 already (POSIX).
bool AppendAnsiAsUtf8(std::string_view text, std::string* out);

// --- Sockets (IPv4, TCP, non-blocking) -----------------------------------------------------

enum class NetResult {
    Ok,
    Unresolved,  // the host name is not known
    Refused,     // nobody listens there, or the host cannot be reached
    TimedOut,    // the wait ran out
    Closed,      // the peer closed or reset the connection
    Stopped,     // a stop was asked for and the wait ran out
};

using SocketHandle = uintptr_t;  // an int descriptor or a Winsock SOCKET

// Resolves `host` (a name or a dotted address), makes a non-blocking socket without delay
// on small writes and starts connecting it to `port`. On Ok `*socket` is open and
// `*pending` tells that the connection is still being made (wait until writable, then ask
// SocketConnectResult); on any other result no socket is left open.
NetResult SocketConnect(const std::string& host, uint16_t port, SocketHandle* socket, bool* pending);
// How the connection attempt of a socket that became writable ended.
NetResult SocketConnectResult(SocketHandle socket);
// Waits at most `milliseconds` until `socket` can be written (`forWrite`) or read, or has
// failed: 1 ready (or failed: the next call tells which), 0 not yet, -1 the wait itself failed.
int SocketWait(SocketHandle socket, bool forWrite, int milliseconds);
// Sends what the socket takes at once of `size` bytes: the count sent, 0 when it would
// block, -1 when the connection is gone.
long SocketSend(SocketHandle socket, const char* bytes, size_t size);
// Receives what has arrived, at most `size` bytes: the count, 0 when nothing is there after
// all, -1 when the peer closed or the connection is gone.
long SocketReceive(SocketHandle socket, char* buffer, size_t size);
void SocketClose(SocketHandle socket);

// The machine's host name as the network knows it; empty when the system does not say.
std::string LocalHostName();

// --- The service ---------------------------------------------------------------------------

class NoticeChannel;
struct ServiceRequest;

// The companion's following as a service runs it: until StopRequested, its notices told to
// the channel it is given; the exit code.
using ServiceFollowing = std::function<int(NoticeChannel& notices)>;

// Carries out `request` (install, uninstall or run; never bad usage), telling `notices` why it
// could not; the exit code, 0 done or 1 failed. Where the system has no Windows services it
// says the command is for Windows only.
int RunServiceCommand(const ServiceRequest& request, const ServiceFollowing& following, NoticeChannel& notices);

// The service manager's stop: sets the flag that StopRequested reads, as the user's stop does.
void RequestStop();
