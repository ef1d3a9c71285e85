#include "ui/TfdlgAboutBox.h"

#include "ui/CopyAnimation.h"
#include "ui/Fonts.h"
#include "ui/Maker.h"
#include "ui/MessageBoxes.h"
#include "ui/WindowFrame.h"

#include <QDesktopServices>
#include <QDir>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QUrl>
#include <QVBoxLayout>

namespace ostrel {

namespace {

constexpr int kBannerHeight = 57;
constexpr int kButtonRowHeight = 36;
const QColor kSilver(192, 192, 192);
const QColor kGrey(128, 128, 128);
const QColor kNavy(0, 0, 128);

QPixmap ProgramIconPixmap()
{
    QPixmap pixmap(41, 40);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    CopyAnimation::PaintIcon(painter, QRectF(0, 0, 41, 40));
    return pixmap;
}

// The maker's logo: the name on a dark plate with a sweep of colour under it.
QPixmap LogoPixmap()
{
    QPixmap pixmap(91, 26);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient plate(0, 0, 0, 26);
    plate.setColorAt(0, QColor(40, 52, 90));
    plate.setColorAt(1, QColor(14, 20, 44));
    painter.setPen(QPen(QColor(200, 200, 220), 1));
    painter.setBrush(plate);
    painter.drawRoundedRect(QRectF(0.5, 0.5, 90, 25), 5, 5);
    QPainterPath sweep;
    sweep.moveTo(8, 21);
    sweep.cubicTo(30, 15, 60, 26, 84, 17);
    painter.setPen(QPen(QColor(250, 190, 40), 2, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(sweep);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(14);
    font.setBold(true);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(0, 0, 91, 20), Qt::AlignCenter, QStringLiteral("KIVORA"));
    return pixmap;
}

QLabel* BannerLabel(QWidget* parent, const char* name, const QColor& colour, bool bold, int pixels)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    QFont font = PGothicFont(pixels);
    font.setBold(bold);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    label->setTextFormat(Qt::PlainText);
    return label;
}

const char* const kHelpText = QT_TRANSLATE_NOOP("ostrel::TfdlgAboutBox", R"(【ソフト概要】
Ostrel は、あるフォルダ（コピー元）の内容を別のフォルダ（コピー先）
へ写して、同じ内容に保つためのフォルダミラーリングツールです。変更
されていないファイルはコピーしないので、２回目からは短い時間で終わ
ります。
コピー元とコピー先の組合せを「コピーセット」と呼びます。コピーセッ
トはいくつでも登録でき、まとめて実行できます。ローカルのディスクど
うしだけでなく、ネットワークドライブや USB メモリなどのリムーバブ
ルメディアとの間でも使えます。データのバックアップや、持ち歩くメディ
アとの同期にお使いください。

【特徴】
・コピー元のフォルダを下位のフォルダまでたどって、コピー先と比較し
　ます。
・コピー元のファイルの更新日時がコピー先より新しいときだけ上書きし
　ます。サイズや内容は比較しません。
・コピー先にないファイルは、必要なフォルダを作って追加します。
・コピー元から削除されたファイルやフォルダを、コピー先からも削除で
　きます（オプション）。削除したものをごみ箱に入れることもできます。
・実行した内容をログとして表示します。
・選んだコピーセットだけ、またはすべてのコピーセットを一度に実行で
　きます。
・コピー先からコピー元へのコピーも行い、２つのフォルダを相互にリン
　クできます。
・決まった時間間隔で自動的に実行できます（自動サイクル実行）。
・コマンドラインでコピーセットファイルを指定して、すべてのコピーセッ
　トを自動で実行できます。
・実際にはコピーせずに、何が行われるかをログだけで確かめられます。
・コピー先のボリューム名を登録しておき、実行するときに違う媒体であ
　れば確認します。

【使い方】
１．「追加」を押すと「コピーセットの追加」画面が開きます。左側でコ
　　ピー元のフォルダ、右側でコピー先のフォルダを選んで「OK」を押す
　　と、リストの最後に追加されます。ドライブは各ツリーの上のボック
　　スで切り替えます（ドライブはマウントポイントで表します）。
２．コピーセットを選んで「編集」を押すか、リストの行をダブルクリッ
　　クすると、フォルダを選び直せます。いくつも選ばれているときは、
　　一番上のコピーセットが対象です。
３．「削除」は、選ばれている一番上のコピーセットを、確認のうえリス
　　トから削除します。フォルダやファイルは削除しません。
４．「↑上へ」「↓下へ」は、選ばれている一番上のコピーセットを１つ上
　　または下へ移動します。「すべて実行」はリストの上から順に実行し
　　ます。
５．リストの列の見出しをクリックすると、その列で並べ替えます。同じ
　　見出しをクリックするたびに昇順と降順が切り替わります。並べ替え
　　た順番がそのまま保存され、実行の順番になります。
６．「実行」は選ばれているコピーセットを、「すべて実行」はすべての
　　コピーセットを実行します。開始する前に確認が表示されます。
　　Ctrl キーや Shift キーを押しながらクリックすると、いくつものコ
　　ピーセットを選べます。
７．実行オプション
　・削除ファイルもリンク：コピー元にないファイルやフォルダを、コピー
　　先から削除します。
　・ごみ箱に入れる：削除するファイルやフォルダをごみ箱へ移します。
　　「削除ファイルもリンク」がオンのときだけ選べます。ごみ箱へ移せ
　　なかったものは削除されず、ログに【失敗】と記録されます。
　・サブフォルダは検索しない：指定したフォルダの直下にあるファイル
　　だけを対象にします。
　・相互リンクする：コピー元からコピー先へのコピーに続けて、コピー
　　先からコピー元へのコピーも行います。「削除ファイルもリンク」と
　　一緒に使うと、コピー先にしかないファイルはコピー元へ戻らずに削
　　除されますのでご注意ください。
　・システムファイルもコピー：システムファイル（Linux では名前付き
　　パイプやデバイスファイルなどの特殊ファイル）も対象にします。オ
　　フのときは対象にしません。
　・ログだけとる：コピーや削除を実際には行わず、行う予定の内容だけ
　　をログに書きます。最終実行日時は変わりません。
８．自動サイクル実行：「分おき」の左の欄に実行の間隔（0～1440 分）
　　を矢印ボタンで指定し、コピーセットを選んでから「設定」を押すと、
　　タイマが起動します。「設定」を押してから指定した時間がたつと、
　　そのとき選ばれているコピーセットを実行します。実行が終わると、
　　そのときの間隔でまた次の実行を待ちます。実行のたびに開始の確認
　　が表示され、「キャンセル」を押すとその回は実行しません。止める
　　ときは、間隔を 0 にして「設定」を押してください。間隔の値は保
　　存されますが、自動サイクル実行はプログラムを起動するたびに
　　「設定」を押さないと始まりません。自動サイクル実行中は、ほかの
　　設定や実行の操作を行わないでください。
９．実行が終わると、実行結果のログが表示されます（中止したときは、
　　終わったコピーセットがある場合だけ表示されます）。ログは
　　Parvane と同じフォルダの velmor.log に保存され、「ログ表示」で
　　いつでも最後の実行のログを見られます。Parvane のフォルダに書き
　　込めないとき（パッケージでインストールしたときなど）は、ログは
　　~/.local/state/ostrel、velmor.dat は ~/.local/share/ostrel に
　　置かれます。
１０．実行中は進行状況の画面が表示されます。その「中止」ボタン（ま
　　　たは Esc キー）で実行を中止できます。
１１．「開く」で別のコピーセットファイルを開きます。今のリストは、
　　　切り替える前に今のファイルへ保存されます。まだないファイル名
　　　を指定すると空のリストで始まり、そのファイルは次に保存すると
　　　きに作られます。
１２．「終了」でプログラムを終了します。コピーセットのリストはコピー
　　　セットファイル（最初は Parvane と同じフォルダの velmor.dat）
　　　に保存されます。ウィンドウの位置と大きさ、列の幅、実行オプショ
　　　ン、自動サイクルの間隔も保存され、次に起動したときに元に戻り
　　　ます。
１３．「ヘルプ」で、この画面（バージョン情報と操作説明）を表示しま
　　　す。

【コマンドラインオプションの指定について】
Parvane コピーセットファイル
　指定したコピーセットファイルを開いて起動します。ファイルが見つか
　らないときはメッセージを表示して空のリストで起動し、終了するとき
　にそのファイルを作ります。
Parvane コピーセットファイル /A
　起動するとすぐに、そのファイルのすべてのコピーセットを確認なしで
　実行し、終わると自動的に終了します（/a でも同じです）。進行状況
　や実行結果の画面は表示されず、ドライブが見つからないときは何も表
　示せずに中止します。コピー先のボリューム名が登録と違うときだけ確
　認が表示されます。結果は velmor.log で確かめてください。
何も指定しないと、Parvane と同じフォルダの velmor.dat を開きます。
スペースを含むパスは " " で囲んでください。

【Ver1.40-->Ver2.00の変更点】
・Linux（Debian 12）で動くようになりました。画面は Qt 6 で作り直し
　ました。
・ドライブはマウントポイント（例：/media/ユーザー名/USB1）で表しま
　す。
・コピーセットファイル、ログ、設定の文字コードを UTF-8 にしました。
　設定は ~/.config/Kivora/Velmor.conf に保存されます。
・ごみ箱は、デスクトップ共通のごみ箱（freedesktop.org 形式）を使い
　ます。
・ネットワークドライブが見つからないときは、接続する場所（例：
　smb://server/share）を入力してマウントできます。
・ファイルは一時ファイルにコピーしてから置き換えるので、コピーに失
　敗しても元のコピー先のファイルはそのまま残ります。
・名前にタブや改行を含むフォルダは、コピーセットファイルに保存でき
　ないため、コピーセットに登録できなくなりました。

【動作環境】
・Linux（Debian 12 以降）、X11 または Wayland のデスクトップ
・Qt 6.4 以降
・日本語フォント（IPA Pゴシック：fonts-ipafont-gothic）
・ネットワークドライブの接続には GIO（gio mount）を使います。

【ユーザーサポート】
・ホームページ：https://kivora.example.com/ostrel/
・電子メール：support@kivora.example.com
ご質問や不具合のご報告は、ホームページのお問い合わせフォームか電子
メールでお寄せください。最新版はホームページからダウンロードできま
す。
)");

} // namespace

TfdlgAboutBox::TfdlgAboutBox(QWidget* parent, const QString& programFolder)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_programFolder(programFolder)
{
    setObjectName(QStringLiteral("TfdlgAboutBox"));
    setWindowTitle(tr("バージョン情報 & 操作説明"));
    setFont(PGothicFont(12));
    resize(kDesignWidth, kDesignHeight);
    setMinimumSize(360, 240);
    setAutoFillBackground(true);
    QPalette silver = palette();
    silver.setColor(QPalette::Window, kSilver);
    setPalette(silver);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* banner = new QFrame(this);
    banner->setObjectName(QStringLiteral("pnlBanner"));
    banner->setFixedHeight(kBannerHeight);
    banner->setAutoFillBackground(true);
    QPalette grey = banner->palette();
    grey.setColor(QPalette::Window, kGrey);
    banner->setPalette(grey);
    auto* bannerRow = new QHBoxLayout(banner);
    bannerRow->setContentsMargins(8, 4, 8, 4);
    bannerRow->setSpacing(10);

    m_programIcon = new QLabel(banner);
    m_programIcon->setObjectName(QStringLiteral("ProgramIcon"));
    m_programIcon->setFixedSize(41, 40);
    m_programIcon->setScaledContents(true);
    m_programIcon->setPixmap(ProgramIconPixmap());
    bannerRow->addWidget(m_programIcon, 0, Qt::AlignVCenter);

    auto* names = new QVBoxLayout;
    names->setSpacing(1);
    m_productName = BannerLabel(banner, "ProductName", Qt::white, true, 16);
    m_version = BannerLabel(banner, "Version", kSilver, false, 12);
    m_notice = BannerLabel(banner, "Copyright", Qt::black, false, 12);
    names->addWidget(m_productName);
    names->addWidget(m_version);
    names->addWidget(m_notice);
    bannerRow->addLayout(names);

    m_comments = BannerLabel(banner, "Comments", kNavy, false, 12);
    m_comments->setWordWrap(true);
    m_comments->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    bannerRow->addWidget(m_comments, 1);

    m_logo = new QLabel(banner);
    m_logo->setObjectName(QStringLiteral("MyLogo"));
    m_logo->setFixedSize(91, 26);
    m_logo->setPixmap(LogoPixmap());
    m_logo->setCursor(Qt::PointingHandCursor);
    m_logo->setToolTip(QString::fromUtf8(kMakerUrl));
    m_logo->installEventFilter(this);
    bannerRow->addWidget(m_logo, 0, Qt::AlignVCenter);
    layout->addWidget(banner);

    m_readme = new QPlainTextEdit(this);
    m_readme->setObjectName(QStringLiteral("mmoReame"));
    m_readme->setReadOnly(true);
    m_readme->setFont(PGothicFont(15));
    m_readme->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_readme->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_readme->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_readme->setFocusPolicy(Qt::ClickFocus); // Tab passes it by
    m_readme->setPlainText(HelpText());
    layout->addWidget(m_readme, 1);

    auto* buttonRow = new QWidget(this);
    buttonRow->setFixedHeight(kButtonRowHeight);
    auto* buttons = new QHBoxLayout(buttonRow);
    buttons->setContentsMargins(0, 0, 0, 0);
    m_ok = new QPushButton(tr("OK"), buttonRow);
    m_ok->setObjectName(QStringLiteral("cmdOK"));
    m_ok->setFixedSize(79, 25);
    m_ok->setDefault(true);
    buttons->addStretch();
    buttons->addWidget(m_ok);
    buttons->addStretch();
    layout->addWidget(buttonRow);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);

    FormCreate();
}

void TfdlgAboutBox::FormCreate()
{
    m_productName->setText(QString::fromUtf8(MessageBoxes::kCaption));
    m_version->setText(QString::fromUtf8(kVersionText));
    m_notice->setText(QString::fromUtf8(kMakerNotice));
    m_comments->setText(QString::fromUtf8(kMakerUrl));
    MessageBoxes::Beep();
}

QString TfdlgAboutBox::HelpText()
{
    return tr(kHelpText);
}

void TfdlgAboutBox::reject()
{
    // Esc and the window manager's close both end the box like its OK button.
    accept();
}

void TfdlgAboutBox::MyLogoClick()
{
    // The browser is started from within the call, in the folder the program is in at that moment.
    const QString previous = QDir::currentPath();
    const bool moved = !m_programFolder.isEmpty() && QDir::setCurrent(m_programFolder);
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(kMakerUrl)));
    if (moved) {
        QDir::setCurrent(previous);
    }
}

bool TfdlgAboutBox::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_logo && event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && m_logo->rect().contains(mouse->position().toPoint())) {
            MyLogoClick();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TfdlgAboutBox::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        WindowFrame::WithoutCloseBox(this);
    }
    QDialog::showEvent(event);
    if (!m_placed) {
        m_placed = true;
        if (QScreen* screen = this->screen()) {
            move(screen->availableGeometry().center() - rect().center());
        }
    }
}

} // namespace ostrel
