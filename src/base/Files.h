#pragma once
// File access shared by every reader and writer: names relative to the working
// folder, files copied from Windows whose names differ only in letter case, and
// saving that never leaves a half-written file behind.

#include <cstddef>
#include <string>
#include <string_view>

namespace drivanto {

bool IsAbsolutePath(std::string_view name);
// folder + "/" + name.
std::string JoinPath(std::string_view folder, std::string_view name);
// The folder part of a path ("." for a bare name, "/" for a file in the root).
std::string FolderOf(const std::string& path);
// The name as seen from the current folder: itself when absolute, else the
// current folder joined with it (the current folder itself for "" and ".").
std::string AbsolutePath(const std::string& path);
// Writes all of `size` bytes to an open file, going on after interruptions.
// Returns 0, or the errno of the write that failed; *written tells how many
// bytes went out before it.
int WriteAll(int fd, const char* data, std::size_t size, std::size_t* written);

// The folder of the running program ("" when it cannot be found).
std::string ProgramFolder();
// A program beside this one: its full name when it is there, else `name`
// (found on the PATH).
std::string ProgramBeside(const std::string& name);
// The part of a path after its last "/" or "\".
std::string LastPathPart(std::string_view path);

// The name itself when it exists; otherwise, when a file whose name differs
// only in letter case exists (component by component), that one; otherwise the
// name unchanged. A name holding a character of code 0 is an IoError.
std::string ResolveCase(const std::string& path);

// A plain-words reason for an errno value ("file not found", ...).
std::string ErrnoReason(int err);

// Reads a whole file (after ResolveCase); throws IoError naming the file.
std::string ReadFileBytes(const std::string& path);

// Refuses the bytes of a text file saved as UTF-16 with an IoError that says
// so and how to mend it.
void RejectUtf16(const std::string& path, std::string_view bytes);

// Writes a whole file in place (no temporary file, no wait for the disk): for
// files a program makes and reads again itself. Throws IoError.
void WriteFilePlain(const std::string& path, std::string_view bytes);

// Writes a whole file through a temporary file in the same folder that is
// renamed over the target only when complete; on failure the earlier file is
// left intact and IoError names the target and the reason.
void WriteFileAtomic(const std::string& path, std::string_view bytes);

}  // namespace drivanto
