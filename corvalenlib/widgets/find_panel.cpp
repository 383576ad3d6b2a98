// SPDX-License-Identifier: MIT
#include "corvalenlib/widgets/find_panel.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <atomic>
#include <mutex>
#include <set>

#include "corvalenlib/core/alias_file.h"
#include "corvalenlib/widgets/background.h"
#include "corvalenlib/widgets/plain_text.h"
#include "corvalenlib/core/resource.h"
#include "io/corvalen.h"

namespace CorvalenLib {
namespace {

// The whole search ends by this bound even if a part has not: its later
// results are dropped.
constexpr int kSearchBoundMs = 12'000;
constexpr int kTakeableRole = Qt::UserRole;
constexpr int kNoteRole = Qt::UserRole + 1;
constexpr int kControllerRole = Qt::UserRole + 2;

QString describe(const Identity& identity) {
    const auto text = QString::fromStdString(identity.text);
    const auto took = QString::number(identity.took.count());
    // " (board GPIB0 bound to ...)" goes inside the parentheses of the time.
    QString route = QString::fromStdString(identity.route).trimmed();
    if (route.startsWith('(') && route.endsWith(')')) route = route.mid(1, route.size() - 2);
    if (!route.isEmpty()) route = QStringLiteral(", ") + route;
    if (identity.answered) return QObject::tr("%1  (%2 ms%3)").arg(text, took, route);
    return QObject::tr("No answer: %1  (%2 ms%3)").arg(text, took, route);
}

bool parses(const std::string& resource) {
    try {
        (void)parseResource(resource);
        return true;
    } catch (const IoError&) {
        return false;
    }
}

}  // namespace

IdentifyBar::IdentifyBar(QWidget* parent)
    : QWidget(parent), button_(new QPushButton(tr("&Identify"))), result_(messageLabel()) {
    button_->setObjectName(QStringLiteral("identify"));
    result_->setObjectName(QStringLiteral("identifyResult"));
    result_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(button_);
    layout->addWidget(result_, 1);
    connect(button_, &QPushButton::clicked, this, [this] { running() ? cancel() : identify(); });
}

IdentifyBar::~IdentifyBar() { cancel(); }

void IdentifyBar::setSource(std::function<std::string()> resource, std::function<IoLimits()> limits,
                            std::function<SerialSettings()> serial) {
    resource_ = std::move(resource);
    limits_ = std::move(limits);
    serial_ = std::move(serial);
}

void IdentifyBar::identify() {
    cancel();
    const std::string resource = resource_ ? resource_() : std::string();
    const IoLimits limits = limits_ ? limits_() : IoLimits{};
    const SerialSettings serial = serial_ ? serial_() : SerialSettings{};
    Aliases aliases = aliases_ ? aliases_() : Aliases{loadAliases().aliases, {}};
    note_ = aliases.note;
    mailbox_ = Mailbox::to(this);
    showText(tr("Asking %1 for *IDN? ...").arg(QString::fromStdString(resource)));
    button_->setText(tr("Cancel"));
    runInBackground([mailbox = mailbox_, resource, aliases = std::move(aliases.aliases), limits, serial, this] {
        const Identity identity = identifyWith(resource, aliases, limits, serial);
        mailbox->post([this, identity] { show(identity); });
    });
}

void IdentifyBar::cancel() {
    if (!mailbox_) return;
    mailbox_->close();
    mailbox_.reset();
    button_->setText(tr("&Identify"));
    showText(tr("Cancelled"));
}

void IdentifyBar::show(const Identity& identity) {
    mailbox_->close();
    mailbox_.reset();
    last_ = identity;
    button_->setText(tr("&Identify"));
    showText(note_.isEmpty() ? describe(identity) : describe(identity) + QStringLiteral(" ") + note_);
    emit finished();
}

void IdentifyBar::clear() {
    if (running()) {
        mailbox_->close();
        mailbox_.reset();
        button_->setText(tr("&Identify"));
    }
    last_.reset();
    showText({});
}

// A long reply wraps; the tooltip holds it whole where it is cut.
void IdentifyBar::showText(const QString& text) {
    result_->setText(text);
    result_->setToolTip(plainTip(text));
}

QString IdentifyBar::result() const { return result_->text(); }

// What the parts report, carried to the panel's thread; after a cancel the
// parts see cancelled() and nothing more reaches the panel.
class FindPanel::Report final : public FindReport {
public:
    explicit Report(FindPanel* panel) : panel_(panel), mailbox_(Mailbox::to(panel)) {}

    void found(const FoundEntry& entry) override {
        mailbox_->post([panel = panel_, entry] { panel->addEntry(entry); });
    }
    void note(const std::string& text) override {
        mailbox_->post([panel = panel_, text = QString::fromStdString(text)] { panel->addNote(text); });
    }
    void addWork(int count) override {
        mailbox_->post([panel = panel_, count] { panel->progressed(count, 0); });
    }
    void workDone(int count) override {
        mailbox_->post([panel = panel_, count] { panel->progressed(0, count); });
    }
    bool claim(const std::string& resource) override {
        std::lock_guard lock(mutex_);
        return claimed_.insert(resource).second;
    }
    [[nodiscard]] bool cancelled() const override { return mailbox_->closed(); }
    void partFinished() {
        mailbox_->post([panel = panel_] { panel->partFinished(); });
    }
    void close() { mailbox_->close(); }

private:
    FindPanel* panel_;
    std::shared_ptr<Mailbox> mailbox_;
    std::mutex mutex_;
    std::set<std::string> claimed_;
};

FindPanel::FindPanel(QWidget* parent)
    : QWidget(parent), findButton_(new QPushButton(tr("&Find instruments"))),
      probeSerial_(new QCheckBox(tr("Probe seria&l ports for Prologix controllers"))), progress_(new QProgressBar),
      list_(new QTreeWidget), status_(messageLabel()), deadline_(new QTimer(this)) {
    findButton_->setObjectName(QStringLiteral("find"));
    probeSerial_->setToolTip(tr("Sends \"++ver\" to every serial port listed. Without this tick nothing is "
                                "written to a serial port."));
    progress_->setTextVisible(false);
    progress_->setRange(0, 1);
    progress_->setValue(0);
    list_->setColumnCount(2);
    list_->setHeaderLabels({tr("Resource"), tr("Identity")});
    list_->setObjectName(QStringLiteral("found"));
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    list_->setMinimumHeight(4 * list_->fontMetrics().lineSpacing());  // shrinks; rows scroll
    status_->setObjectName(QStringLiteral("findStatus"));
    deadline_->setSingleShot(true);
    deadline_->setInterval(kSearchBoundMs);

    auto* controls = new QHBoxLayout;
    controls->addWidget(findButton_);
    controls->addWidget(progress_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(controls);
    layout->addWidget(probeSerial_);
    layout->addWidget(list_, 1);
    layout->addWidget(status_);

    connect(findButton_, &QPushButton::clicked, this, [this] { searching() ? stopSearch() : startSearch(); });
    connect(deadline_, &QTimer::timeout, this,
            [this] { finishSearch(tr("stopped after %1 s").arg(kSearchBoundMs / 1000)); });
    connect(list_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) { picked(item, false); });
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) { picked(item, true); });
}

FindPanel::~FindPanel() {
    if (report_) report_->close();
}

void FindPanel::setProbeSerialPorts(bool probe) { probeSerial_->setChecked(probe); }

void FindPanel::startSearch() {
    stopSearch();
    list_->clear();
    FindPlan plan = planSource_ ? planSource_() : FindPlan{};
    plan.probeSerialPorts = probeSerial_->isChecked();
    report_ = std::make_shared<Report>(this);
    found_ = 0;
    firstInstrumentMs_.reset();
    progress_->setRange(0, 1);
    progress_->setValue(0);
    findButton_->setText(tr("S&top"));
    status_->setText(tr("Searching..."));
    clock_.start();
    deadline_->start();
    using Part = void (*)(const FindPlan&, FindReport&);
    const Part parts[] = {findOnLan, findByMdns, findGpibListeners, findSerialPorts};
    partsLeft_ = static_cast<int>(std::size(parts));
    for (const Part part : parts) {
        runInBackground([report = report_, plan, part] {
            part(plan, *report);
            report->partFinished();
        });
    }
}

void FindPanel::stopSearch() {
    if (searching()) finishSearch(tr("stopped"));
}

void FindPanel::finishSearch(const QString& why) {
    report_->close();
    report_.reset();
    deadline_->stop();
    searchMs_ = clock_.elapsed();
    findButton_->setText(tr("&Find instruments"));
    progress_->setRange(0, 1);
    progress_->setValue(1);
    status_->setText(tr("Search %1 after %2 s: %n instrument(s) found.", nullptr, found_)
                         .arg(why, QString::number(static_cast<double>(searchMs_) / 1000.0, 'f', 1)));
    emit searchFinished();
}

void FindPanel::addEntry(const FoundEntry& entry) {
    const bool instrument = entry.kind == FoundEntry::Kind::Instrument;
    if (instrument) {
        ++found_;
        if (!firstInstrumentMs_) firstInstrumentMs_ = clock_.elapsed();
    }
    auto* item = new QTreeWidgetItem(list_, {QString::fromStdString(entry.resource),
                                             QString::fromStdString(entry.identity)});
    const bool takeable = entry.kind != FoundEntry::Kind::Gateway && entry.kind != FoundEntry::Kind::Controller &&
                          parses(entry.resource);
    item->setData(0, kTakeableRole, takeable);
    item->setData(0, kControllerRole,
                  entry.kind == FoundEntry::Kind::Gateway || entry.kind == FoundEntry::Kind::Controller);
    item->setToolTip(0, plainTip(item->text(0)));
    item->setToolTip(1, plainTip(item->text(1)));
    if (!instrument) item->setForeground(1, palette().brush(QPalette::Disabled, QPalette::Text));
}

void FindPanel::addNote(const QString& text) {
    auto* item = new QTreeWidgetItem(list_, {text});
    item->setFirstColumnSpanned(true);
    item->setData(0, kTakeableRole, false);
    item->setData(0, kNoteRole, true);
    item->setToolTip(0, plainTip(text));
    auto font = item->font(0);
    font.setItalic(true);
    item->setFont(0, font);
}

void FindPanel::progressed(int added, int done) {
    progress_->setMaximum(progress_->maximum() + added);
    progress_->setValue(progress_->value() + done);
}

void FindPanel::partFinished() {
    if (--partsLeft_ == 0) finishSearch(tr("done"));
}

void FindPanel::picked(QTreeWidgetItem* item, bool take) {
    if (item != nullptr && !take && item->data(0, kControllerRole).toBool()) emit controllerPicked(item->text(0));
    if (item == nullptr || !item->data(0, kTakeableRole).toBool()) return;
    const QString resource = item->text(0);
    emit resourcePicked(resource);
    if (take) emit resourceTaken(resource);
}

QList<FindPanel::Row> FindPanel::rows() const {
    QList<Row> rows;
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        const auto* item = list_->topLevelItem(i);
        rows.push_back({item->text(0), item->text(1), item->data(0, kTakeableRole).toBool(),
                        item->data(0, kNoteRole).toBool()});
    }
    return rows;
}

QString FindPanel::status() const { return status_->text(); }

bool FindPanel::select(const QString& resource) {
    const auto items = list_->findItems(resource, Qt::MatchExactly, 0);
    if (items.isEmpty()) return false;
    list_->setCurrentItem(items.front());
    return true;
}

}  // namespace CorvalenLib
