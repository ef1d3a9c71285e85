#pragma once

#include <QCoreApplication>

#include <string>

namespace ostrel::StatusTexts {

// The texts a run shows in the window's status bar. They are window texts and may be translated
// (context "StatusTexts"); the copy log's words are a file format, kept in MirrorEngine.cpp and
// CopyLog.cpp, and are never translated.
inline constexpr const char* kContext = "StatusTexts";
inline constexpr const char* kSearching = QT_TRANSLATE_NOOP("StatusTexts", "フォルダ検索中....");
inline constexpr const char* kDeleting = QT_TRANSLATE_NOOP("StatusTexts", "削除中.....");
inline constexpr const char* kSyncing =
    QT_TRANSLATE_NOOP("StatusTexts", "ディスクへの書き込みを待っています....");

// A status text as the window shows it, in UTF-8 like everything the engine hands the window.
inline std::string Shown(const char* text)
{
    return QCoreApplication::translate(kContext, text).toStdString();
}

} // namespace ostrel::StatusTexts
