#include "dshow/base_object_win.h"

namespace dshow {

std::atomic<long> CBaseObject::objectCount_{0};

CBaseObject::CBaseObject(const wchar_t*) { objectCount_.fetch_add(1); }

CBaseObject::~CBaseObject() { objectCount_.fetch_sub(1); }

long CBaseObject::ObjectsActive() { return objectCount_.load(); }

}  // namespace dshow
