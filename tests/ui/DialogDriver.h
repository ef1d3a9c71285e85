#pragma once

#include <QDialog>
#include <QFileSystemModel>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTest>
#include <QTreeView>

namespace ostrel::test {

// Selects a folder in one of the copy-set dialog's trees, as a click on it would.
inline bool SelectFolder(QDialog& dialog, const char* treeName, const QString& path)
{
    auto* tree = dialog.findChild<QTreeView*>(treeName);
    auto* proxy = tree ? qobject_cast<QSortFilterProxyModel*>(tree->model()) : nullptr;
    auto* files = proxy ? qobject_cast<QFileSystemModel*>(proxy->sourceModel()) : nullptr;
    if (!files) {
        return false;
    }
    const QModelIndex index = proxy->mapFromSource(files->index(path));
    if (!index.isValid()) {
        return false;
    }
    tree->setCurrentIndex(index);
    return tree->currentIndex() == index;
}

inline int ClickButton(QDialog& dialog, const char* name)
{
    if (auto* button = dialog.findChild<QPushButton*>(name)) {
        QTest::mouseClick(button, Qt::LeftButton);
    }
    return dialog.result();
}

} // namespace ostrel::test
