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

  // Creates the section `objectName` of `size` bytes, or takes the existing one of that name,
  // and maps `size` bytes of it read-write. False if either step fails or the existing section
  // is smaller than `size`.
  bool create(const std::string& objectName, std::uint64_t size);
  // Opens an existing section and maps all of it, both with read access only: a reader needs
  // no more, and a process with fewer rights than the creator still gets it. False if there is
  // none. Storing through data() then faults.
  bool open(const std::string& objectName);
  // Unmaps and closes; nothing when already closed.
  void close();

  std::uint8_t* data() const { return view_; }
  // Bytes usable at data(): for open, the whole mapped view as the system reports it.
  std::uint64_t size() const { return size_; }

 private:
  void* handle_ = nullptr;
  std::uint8_t* view_ = nullptr;
  std::uint64_t size_ = 0;
};

}  // namespace ring
