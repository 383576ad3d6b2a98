// SPDX-License-Identifier: MIT
// The selection dialog's Identify button and its search for instruments.
// Every probe runs off the GUI thread; the widgets only start probes, show
// what comes back, and drop what comes back after a cancel.
#pragma once

#include <QElapsedTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "corvalenlib/discovery/finder.h"
#include "corvalenlib/discovery/identify.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace CorvalenLib {

class Mailbox;

// "Identify": "*IDN?" to the resource in the dialog's field.
class IdentifyBar final : public QWidget {
    Q_OBJECT

public:
    explicit IdentifyBar(QWidget* parent = nullptr);
    ~IdentifyBar() override;
    IdentifyBar(const IdentifyBar&) = delete;
    IdentifyBar& operator=(const IdentifyBar&) = delete;

    // Where the resource, the limits and the serial settings come from.
    void setSource(std::function<std::string()> resource, std::function<IoLimits()> limits,
                   std::function<SerialSettings()> serial);
    // The aliases Identify goes by, and a note on them for the result
    // line; by default those in force and no note.
    struct Aliases {
        std::vector<Alias> aliases;
        QString note;
    };
    void setAliasSource(std::function<Aliases()> aliases) { aliases_ = std::move(aliases); }
    void identify();
    void cancel();
    // Forgets the shown result: it no longer describes what is on screen.
    void clear();
    [[nodiscard]] bool running() const { return mailbox_ != nullptr; }
    [[nodiscard]] QString result() const;
    // The last outcome, once one came back.
    [[nodiscard]] const std::optional<Identity>& lastIdentity() const { return last_; }

signals:
    void finished();

private:
    void show(const Identity& identity);
    void showText(const QString& text);

    QPushButton* button_;
    QLabel* result_;
    std::function<std::string()> resource_;
    std::function<IoLimits()> limits_;
    std::function<SerialSettings()> serial_;
    std::function<Aliases()> aliases_;
    QString note_;  // about the aliases of the probe running or shown
    std::shared_ptr<Mailbox> mailbox_;
    std::optional<Identity> last_;
};

class FindPanel final : public QWidget {
    Q_OBJECT

public:
    explicit FindPanel(QWidget* parent = nullptr);
    ~FindPanel() override;
    FindPanel(const FindPanel&) = delete;
    FindPanel& operator=(const FindPanel&) = delete;

    // Called at the start of each search for what to search.
    void setPlanSource(std::function<FindPlan()> plan) { planSource_ = std::move(plan); }
    void setProbeSerialPorts(bool probe);
    void startSearch();
    void stopSearch();
    [[nodiscard]] bool searching() const { return report_ != nullptr; }

    struct Row {
        QString resource;
        QString identity;
        bool takeable = false;
        bool note = false;  // a line about the search, not a found entry
    };
    [[nodiscard]] QList<Row> rows() const;
    [[nodiscard]] QString status() const;
    // Time from the start of the search to the first identified instrument.
    [[nodiscard]] std::optional<qint64> firstInstrumentMs() const { return firstInstrumentMs_; }
    [[nodiscard]] qint64 searchMs() const { return searchMs_; }
    // Selects the row of resource, as the operator would click it.
    bool select(const QString& resource);

signals:
    // The operator selected a row that names a resource the dialog can take.
    void resourcePicked(const QString& resource);
    // The operator double-clicked such a row.
    void resourceTaken(const QString& resource);
    // The operator selected a GPIB controller: a Prologix controller
    // ("PRLGX-ASRL/dev/ttyUSB0::INTFC") or a gateway's interface
    // ("TCPIP0::host::gpib0::INTFC"), something to bind a board to.
    void controllerPicked(const QString& interfaceResource);
    void searchFinished();

private:
    class Report;

    void addEntry(const FoundEntry& entry);
    void addNote(const QString& text);
    void progressed(int added, int done);
    void partFinished();
    void finishSearch(const QString& why);
    void picked(QTreeWidgetItem* item, bool take);

    QPushButton* findButton_;
    QCheckBox* probeSerial_;
    QProgressBar* progress_;
    QTreeWidget* list_;
    QLabel* status_;
    QTimer* deadline_;
    std::function<FindPlan()> planSource_;
    std::shared_ptr<Report> report_;
    int partsLeft_ = 0;
    int found_ = 0;
    QElapsedTimer clock_;
    std::optional<qint64> firstInstrumentMs_;
    qint64 searchMs_ = 0;
};

}  // namespace CorvalenLib
