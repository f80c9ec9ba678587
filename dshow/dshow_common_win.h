// The DirectShow declarations the source framework builds on, and the result codes it
// promises to its callers. The values are part of the COM contract, so they are pinned here.
#pragma once

// The framework formats no strings through strsafe; keep the standard functions usable.
#ifndef NO_DSHOW_STRSAFE
#define NO_DSHOW_STRSAFE
#endif
#include <dshow.h>
#include <wrl/client.h>

namespace dshow {

static_assert(VFW_E_NOT_CONNECTED == static_cast<HRESULT>(0x80040209));
static_assert(VFW_E_ALREADY_CONNECTED == static_cast<HRESULT>(0x80040204));
static_assert(VFW_E_NOT_STOPPED == static_cast<HRESULT>(0x80040224));
static_assert(VFW_E_INVALID_DIRECTION == static_cast<HRESULT>(0x80040208));
static_assert(VFW_E_NO_ACCEPTABLE_TYPES == static_cast<HRESULT>(0x80040207));
static_assert(VFW_E_TYPE_NOT_ACCEPTED == static_cast<HRESULT>(0x8004022A));
static_assert(VFW_E_NO_ALLOCATOR == static_cast<HRESULT>(0x8004020A));
static_assert(VFW_E_ENUM_OUT_OF_SYNC == static_cast<HRESULT>(0x80040203));
static_assert(VFW_E_NOT_FOUND == static_cast<HRESULT>(0x80040216));
static_assert(VFW_E_NO_CLOCK == static_cast<HRESULT>(0x80040213));
static_assert(VFW_S_NO_MORE_ITEMS == static_cast<HRESULT>(0x00040103));

}  // namespace dshow
