#pragma once

#include <QDialog>

#include <functional>
#include <memory>
#include <string>

class QComboBox;
class QFileIconProvider;
class QFileSystemModel;
class QLabel;
class QPushButton;
class QTreeView;

namespace ostrel {

class FolderRootFilter;
class Volumes;

// The copy-set dialog: a drive box and a folder tree for the source on the left and for the
// target on the right. On OK it hands back the two chosen folders and the volume name of the
// target's drive.
class TfdlgCopySet : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kClientWidth = 546;
    static constexpr int kClientHeight = 326;
    static constexpr int kLabelWidth = 249;

    using VolumeNameOf = std::function<std::string(const std::string& path)>;

    // source and target are the folders of the copy set being edited, empty for a new one. A
    // folder that no longer exists is reported at once; the dialog opens all the same.
    TfdlgCopySet(Volumes& volumes, VolumeNameOf volumeName, const QString& caption, const std::string& source,
                 const std::string& target, QWidget* parent = nullptr);
    ~TfdlgCopySet() override;

    // Valid once the dialog ended with OK.
    const std::string& SourcePath() const { return m_sourcePath; }
    const std::string& TargetPath() const { return m_targetPath; }
    const std::string& TargetVolumeName() const { return m_targetVolume; }

    // The folder selected in a tree, as the bytes of its path; empty when none is.
    std::string SelectedSource() const;
    std::string SelectedTarget() const;

    // Shows a folder's path in a label's width: the leading folder names give way to "...", then
    // the drive part, and a name that is still too wide is cut.
    static QString FitPath(const std::string& path, const std::string& drive, const QFontMetrics& metrics,
                           int width);

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct Side
    {
        QComboBox* drive = nullptr;
        QTreeView* tree = nullptr;
        QLabel* label = nullptr;
        QFileSystemModel* model = nullptr;
        FolderRootFilter* filter = nullptr;
        std::unique_ptr<QFileIconProvider> icons; // borrowed by the model, which goes first
    };

    void BuildSide(Side& side, const char* name, int left, const QString& heading);
    void FormCreate(const std::string& source, const std::string& target);
    void drvSourceChange();
    void drvTargetChange();
    void dirSourceChange();
    void dirTargetChange();
    void cmdOKClick();
    void SetRoot(Side& side, const QString& folder);
    void ShowSelected(Side& side);
    std::string Selected(const Side& side) const;
    bool RefuseUnstorable(const std::string& source, const std::string& target, const std::string& volume);

    Volumes& m_volumes;
    VolumeNameOf m_volumeName;
    Side m_source;
    Side m_target;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    std::string m_sourcePath;
    std::string m_targetPath;
    std::string m_targetVolume;
    bool m_placed = false;
};

} // namespace ostrel
