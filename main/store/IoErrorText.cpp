#include "store/IoErrorText.h"

#include "store/CopySetFile.h"

#include <QCoreApplication>

#include <cerrno>

namespace ostrel {

std::string IoErrorText(int error)
{
    const char* text = nullptr;
    switch (error) {
    case ENOENT:
        text = QT_TRANSLATE_NOOP("IoError", "ファイルが見つかりません");
        break;
    case EINVAL:
    case ENAMETOOLONG:
        text = QT_TRANSLATE_NOOP("IoError", "不正なファイル名です");
        break;
    case EMFILE:
    case ENFILE:
        text = QT_TRANSLATE_NOOP("IoError", "オープンしたファイルが多すぎます");
        break;
    case EACCES:
    case EPERM:
    case EROFS:
        text = QT_TRANSLATE_NOOP("IoError", "ファイルへのアクセスが拒否されました");
        break;
    case kReadPastEnd:
        text = QT_TRANSLATE_NOOP("IoError", "ファイルの末尾以降を読み込みました");
        break;
    case ENOSPC:
        text = QT_TRANSLATE_NOOP("IoError", "ディスクがいっぱいです");
        break;
    default:
        return QCoreApplication::translate("IoError", "I/O エラー (%1)").arg(error).toStdString();
    }
    return QCoreApplication::translate("IoError", text).toStdString();
}

} // namespace ostrel
