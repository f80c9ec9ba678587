#include "dshow/media_type_win.h"

#include <cstring>

namespace dshow {

namespace {

void clearType(AM_MEDIA_TYPE& type) {
  std::memset(&type, 0, sizeof(type));
  type.bFixedSizeSamples = TRUE;
  type.lSampleSize = 1;
}

}  // namespace

void FreeMediaType(AM_MEDIA_TYPE& type) {
  if (type.pbFormat) CoTaskMemFree(type.pbFormat);
  type.pbFormat = nullptr;
  type.cbFormat = 0;
  if (type.pUnk) type.pUnk->Release();
  type.pUnk = nullptr;
}

void DeleteMediaType(AM_MEDIA_TYPE* type) {
  if (!type) return;
  FreeMediaType(*type);
  CoTaskMemFree(type);
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source) {
  *target = *source;
  if (source->cbFormat != 0 && source->pbFormat) {
    target->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source->cbFormat));
    if (!target->pbFormat) {
      target->cbFormat = 0;
      target->pUnk = nullptr;
      return E_OUTOFMEMORY;
    }
    std::memcpy(target->pbFormat, source->pbFormat, source->cbFormat);
  } else {
    // A length without a block (or the reverse) is not carried over.
    target->pbFormat = nullptr;
    target->cbFormat = 0;
  }
  if (target->pUnk) target->pUnk->AddRef();
  return S_OK;
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source) {
  auto* type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (!type) return nullptr;
  if (FAILED(CopyMediaType(type, source))) {
    CoTaskMemFree(type);
    return nullptr;
  }
  return type;
}

CMediaType::CMediaType() { clearType(*this); }

CMediaType::CMediaType(const GUID* majorType) {
  clearType(*this);
  majortype = *majorType;
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& other) {
  clearType(*this);
  Set(other);
}

// The base starts empty on purpose: Set copies the format block instead of sharing it.
CMediaType::CMediaType(const CMediaType& other) : AM_MEDIA_TYPE() {  // NOLINT(bugprone-copy-constructor-init)
  clearType(*this);
  Set(other);
}

CMediaType::~CMediaType() { FreeMediaType(*this); }

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& other) {
  Set(other);
  return *this;
}

CMediaType& CMediaType::operator=(const CMediaType& other) {
  Set(other);
  return *this;
}

HRESULT CMediaType::Set(const AM_MEDIA_TYPE& other) {
  if (&other == this) return S_OK;
  FreeMediaType(*this);
  HRESULT hr = CopyMediaType(this, &other);
  if (FAILED(hr)) clearType(*this);
  return hr;
}

bool CMediaType::operator==(const CMediaType& other) const {
  if (majortype != other.majortype || subtype != other.subtype || formattype != other.formattype) return false;
  if (cbFormat != other.cbFormat) return false;
  return cbFormat == 0 || std::memcmp(pbFormat, other.pbFormat, cbFormat) == 0;
}

void CMediaType::SetSampleSize(ULONG size) {
  bFixedSizeSamples = size != 0;
  lSampleSize = size;
}

BYTE* CMediaType::AllocFormatBuffer(ULONG length) {
  if (length == cbFormat && pbFormat) {
    std::memset(pbFormat, 0, length);
    return pbFormat;
  }
  auto* block = static_cast<BYTE*>(CoTaskMemAlloc(length ? length : 1));
  if (!block) return nullptr;
  std::memset(block, 0, length);
  if (pbFormat) CoTaskMemFree(pbFormat);
  pbFormat = block;
  cbFormat = length;
  return block;
}

bool CMediaType::SetFormat(const BYTE* format, ULONG length) {
  BYTE* block = AllocFormatBuffer(length);
  if (!block) return false;
  if (length) std::memcpy(block, format, length);
  return true;
}

void CMediaType::ResetFormatBuffer() {
  if (pbFormat) CoTaskMemFree(pbFormat);
  pbFormat = nullptr;
  cbFormat = 0;
}

bool CMediaType::IsPartiallySpecified() const { return majortype == GUID_NULL || formattype == GUID_NULL; }

bool CMediaType::MatchesPartial(const AM_MEDIA_TYPE& other) const {
  if (majortype != GUID_NULL && majortype != other.majortype) return false;
  if (subtype != GUID_NULL && subtype != other.subtype) return false;
  if (formattype != GUID_NULL) {
    if (formattype != other.formattype || cbFormat != other.cbFormat) return false;
    if (cbFormat != 0 && (!other.pbFormat || std::memcmp(pbFormat, other.pbFormat, cbFormat) != 0)) return false;
  }
  return true;
}

}  // namespace dshow
