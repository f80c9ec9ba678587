// An AM_MEDIA_TYPE that owns its format block (task memory, as COM callers expect) and its
// pUnk. Copies are deep; a copy whose format block cannot be allocated comes out empty
// (no major type), and Set reports E_OUTOFMEMORY.
#pragma once

#include "dshow/dshow_common_win.h"

namespace dshow {

class CMediaType : public AM_MEDIA_TYPE {
 public:
  CMediaType();
  explicit CMediaType(const GUID* majorType);
  CMediaType(const AM_MEDIA_TYPE& other);
  CMediaType(const CMediaType& other);
  ~CMediaType();

  CMediaType& operator=(const AM_MEDIA_TYPE& other);
  CMediaType& operator=(const CMediaType& other);
  // Equal when type, subtype, format type and format bytes agree.
  bool operator==(const CMediaType& other) const;
  bool operator!=(const CMediaType& other) const { return !(*this == other); }

  // Replaces this type with a deep copy of `other`; E_OUTOFMEMORY leaves it empty.
  HRESULT Set(const AM_MEDIA_TYPE& other);
  bool IsValid() const { return majortype != GUID_NULL; }

  void SetType(const GUID* type) { majortype = *type; }
  void SetSubtype(const GUID* type) { subtype = *type; }
  void SetFormatType(const GUID* type) { formattype = *type; }
  void SetTemporalCompression(bool compressed) { bTemporalCompression = compressed; }
  // A non-zero size means fixed-size samples of that many bytes; 0 means variable size.
  void SetSampleSize(ULONG size);

  // Allocates a zeroed format block of `length` bytes; null when out of memory.
  BYTE* AllocFormatBuffer(ULONG length);
  // Copies `length` bytes into a new format block; false when out of memory.
  bool SetFormat(const BYTE* format, ULONG length);
  void ResetFormatBuffer();

  // Major type or format type unset: a partial type that only narrows a search.
  bool IsPartiallySpecified() const;
  // Each of this partial type's set GUIDs equals the other's; a set format type also needs
  // equal format bytes.
  bool MatchesPartial(const AM_MEDIA_TYPE& other) const;
};

// Frees what a media type owns (format block, pUnk) and leaves it with none.
void FreeMediaType(AM_MEDIA_TYPE& type);
// Frees a media type allocated in task memory together with its contents.
void DeleteMediaType(AM_MEDIA_TYPE* type);
// Deep copy into `target`, whose old contents are not freed; E_OUTOFMEMORY leaves it empty.
HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);
// A new task-memory copy of `source`, or null.
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source);

}  // namespace dshow
