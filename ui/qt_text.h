// The one place where the program's UTF-8 texts become QString and back.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace rw::ui {

inline QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string ToStdString(const QString& text) {
  return text.toStdString();
}

}  // namespace rw::ui
