// Gives a widget the object name that tests, screenshots and the accessibility tools find it by,
// where it is created. GUI thread only.
#pragma once

#include <QLatin1String>

namespace rw::ui {

template <typename T>
T* Named(T* object, const char* name) {
  object->setObjectName(QLatin1String(name));
  return object;
}

}  // namespace rw::ui
