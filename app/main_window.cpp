#include "app/main_window.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QLineEdit>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>

#include "app/event_binding.h"
#include "app/window_texts.h"
#include "runtime/control_names.h"
#include "runtime/ui/control_registry.h"
#include "runtime/ui/out_of_view.h"
#include "runtime/ui/progress_delegate.h"
#include "runtime/ui/qt_text.h"
#include "ui_main_window.h"

// The icons are compiled into this static library; naming their initialiser keeps the linker
// from dropping them.
static void LoadApplicationResources() {
    Q_INIT_RESOURCE(app);
}

namespace pandrel {
namespace {

QIcon ApplicationIcon() {
    LoadApplicationResources();
    QIcon icon;
    for (int size : {256, 128, 64, 48, 32, 24, 16}) {
        icon.addFile(QStringLiteral(":/icons/pandrel-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

// While the input box still holds the format hint, focus into it (by a click, Tab or the
// window's activation) selects the whole hint, so that a paste replaces the hint instead of
// being added to it. The selection waits until the focus event, and the mouse press that may
// have brought it, have placed the cursor.
class HintSelection : public QObject {
public:
    HintSelection(QLineEdit* box, QString hint)
        : QObject(box), m_box(box), m_hint(std::move(hint)) {
        box->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusIn && m_box->text() == m_hint) {
            QTimer::singleShot(0, m_box, [this] {
                if (m_box->hasFocus() && m_box->text() == m_hint) {
                    m_box->selectAll();
                }
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QLineEdit* m_box;
    QString m_hint;
};

// The control properties the handlers read or write, and no others.
WindowControls MainWindowControls() {
    return {{
                {kMainWindow, Property::Width, false, true},
                {kShareInputBox, Property::Content, true, true},
                {kDiagnosticBox, Property::Content, false, true},
                {kScanReportBox, Property::Content, false, true},
                {kStatusLine, Property::Caption, true, true},
                {kClipboardWatchBox, Property::Checked, true, false},
                {kClipboardTimer, Property::Interval, false, true},
                {kFileList, Property::SelectedRow, true, false},
                {kTaskList, Property::SelectedRow, true, false},
            },
            kWorkLog};
}

} // namespace

MainWindow::MainWindow(ProgramState& state, DownloadManager* downloads)
    : m_ui(std::make_unique<Ui::MainWindowForm>()) {
    // Before the template's controls exist, so none is asked about before it applies.
    InstallOutOfViewAccessibility();
    m_ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    // The design's sizes are outer sizes; Qt sizes the client area, which ends with the
    // status line (the tab control plus 状态: 448 pixels).
    setFixedSize(kDesignWidth, m_ui->状态->geometry().bottom() + 1);
    CentreOnScreen();
    setWindowIcon(ApplicationIcon());

    // The clipboard-watch timer is part of the template but not a widget, so it is made here;
    // it starts stopped.
    m_clipboardTimer = new QTimer(this);
    m_clipboardTimer->setObjectName(ToQString(kClipboardTimer));

    ApplyListSettings();
    // The "下载进度" cells keep their text and are drawn as a progress bar behind it.
    m_ui->列表框_任务信息->setItemDelegateForColumn(kProgressColumn,
                                                    new ProgressBarDelegate(m_ui->列表框_任务信息));
    const QString hint = ToQString(FormatHint(state.deployment.shareHost));
    m_ui->编辑框1->setText(hint);
    m_ui->编辑框1->setCursorPosition(0);
    new HintSelection(m_ui->编辑框1, hint);
    m_ui->标签1->setText(ToQString(AboutText(FromQString(m_ui->标签1->text()), state.deployment)));

    RegisterMainWindow(this, MainWindowControls());
    BindEvents(*this, state, downloads);
}

MainWindow::~MainWindow() = default;

void MainWindow::ApplyListSettings() {
    for (QTreeWidget* list : findChildren<QTreeWidget*>()) {
        list->header()->setSectionsClickable(true);
        list->header()->setSectionResizeMode(QHeaderView::Interactive);
        const QStringList widths =
            list->property("columnWidths").toString().split(QLatin1Char(','));
        for (int column = 0; column < widths.size(); ++column) {
            list->setColumnWidth(column, widths[column].toInt());
        }
        // A selection is not highlighted while the window is in the background.
        QPalette palette = list->palette();
        palette.setColor(QPalette::Inactive, QPalette::Highlight,
                         palette.color(QPalette::Active, QPalette::Base));
        palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                         palette.color(QPalette::Active, QPalette::Text));
        list->setPalette(palette);
    }
}

QPoint MainWindow::Placement(const QRect& screen, const QRect& available) {
    const QPoint centred(screen.x() + (screen.width() - kDesignWidth) / 2,
                         screen.y() + (screen.height() - kDesignHeight) / 2);
    // The far edges first, then the near ones, so the near ones win when the area is smaller.
    const int x =
        std::max(available.left(),
                 std::min(centred.x(), available.left() + available.width() - kDesignWidth));
    const int y =
        std::max(available.top(),
                 std::min(centred.y(), available.top() + available.height() - kDesignHeight));
    return {x, y};
}

void MainWindow::CentreOnScreen() {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    move(Placement(screen->geometry(), screen->availableGeometry()));
}

} // namespace pandrel
