// A named, pagefile-backed shared-memory section mapped into this process. Windows only.
#pragma once

#include <cstdint>
#include <string>

namespace ring {

class NamedSection {
 public:
  NamedSection() = default;
  ~NamedSection() { close(); }
  NamedSection(const NamedSection&) = delete;
  NamedSection& operator=(const NamedSection&) = delete;

  // Creates the section `objectName` of `size` bytes with `securityDescriptor` (null: the
  // system's default) and maps `size` bytes of it read-write; or, when a section of that name
  // exists (existed() then says so), maps all of it read-write, as it is. False, with error()
  // set, if either step fails, for example when the name belongs to another kind of object.
  bool create(const std::string& objectName, std::uint64_t size, void* securityDescriptor = nullptr);
  // Opens an existing section and maps all of it, both with read access only: a reader needs
  // no more, and a process with fewer rights than the creator still gets it. False if there is
  // none. Storing through data() then faults.
  bool open(const std::string& objectName);
  // The same with read and write access, for a writer that joins a section someone else made
  // and that grants no more than mapping it (no delete, no change of its security).
  bool openForWriting(const std::string& objectName);
  // The same for `name` (without "Local\") in this logon session's own namespace, reached by its
  // full path, \Sessions\<session>\BaseNamedObjects\<name>: for a process whose own named
  // objects live elsewhere (see FrameRingReader::open).
  bool openInSession(const std::string& name);
  // Unmaps and closes; nothing when already closed.
  void close();

  std::uint8_t* data() const { return view_; }
  // Bytes usable at data(): after a create that found no section, the size asked for;
  // otherwise the whole mapped view as the system reports it (whole pages).
  std::uint64_t size() const { return size_; }
  bool existed() const { return existed_; }
  // The system's error code of the last create or open that failed; 0 after one that succeeded.
  unsigned long error() const { return error_; }
  // The handle, for what the caller does with the section's security.
  void* handle() const { return handle_; }

  // What size() reports for a section of `size` bytes mapped whole: whole pages.
  static std::uint64_t mappedExtent(std::uint64_t size);

 private:
  // Maps all of the opened section `handle` with `access` and keeps both; closes it on failure.
  bool mapWhole(void* handle, unsigned long access);

  void* handle_ = nullptr;
  std::uint8_t* view_ = nullptr;
  std::uint64_t size_ = 0;
  bool existed_ = false;
  unsigned long error_ = 0;
};

// Whether this process runs in an AppContainer, whose "Local\" names are its own.
bool runningInAppContainer();

}  // namespace ring
