// SPDX-License-Identifier: MIT
// Last stage of a run: start the scan, wait until the instrument holds every
// reading, then take the readings out one at a time and list them.
#include <QListWidget>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

#include "io/reply_text.h"
#include "sequence/reading_reply.h"
#include "window/corvalen_exmpl.h"

namespace {

// A start stamp is listed whole; an empty one means the instrument did not
// answer the question.
std::string startStamp(const std::string& text, const char* what) {
    if (text.empty()) {
        throw std::invalid_argument(std::string("empty ") + what + " reply");
    }
    return text;
}

std::int32_t nextReadingNumber(std::int32_t number) {
    if (number == std::numeric_limits<std::int32_t>::max()) {
        throw std::overflow_error("reading number passes the largest 32-bit value");
    }
    return number + 1;
}

// A count below the highest one seen means the scan started again.
std::string stalledScanMessage(double bound, std::int32_t count, std::int32_t highest,
                               std::int32_t expected) {
    std::string text = "no new reading stored for " + tq::numberInList(bound) +
                       " s; the instrument holds " + std::to_string(count) + " of " +
                       std::to_string(expected) + " readings";
    if (count < highest) {
        text += " (it held " + std::to_string(highest) + " before: the scan was restarted)";
    }
    return text;
}

}  // namespace

void CorvalenExmpl::Readings() {
    appendLine("");
    appendLine("Scanning and making measurements; please wait.");
    appendLine("The instrument will scan through the channels once,");
    appendLine("then wait a pre-determined time, and scan again.");
    appendLine("Measurement time is about: " + tq::numberInList(meas_time) + " seconds.");
    repaintList();

    Instr_TQ820->Output("INITiate");
    query("SYSTem:DATE?", response);  // "2026,12,09"
    RemoveTermination();
    const std::string startDate = response;
    query("SYSTem:TIME?", response);  // "11,42,07.000"
    RemoveTermination();
    const std::string startTime = response;

    waitForStoredReadings();

    List1->clear();
    showInstructions();
    appendLine("");
    appendLine("Start Date (yyyy,mm,dd): " + startStamp(startDate, "start date"));
    appendLine("Start Time (hh,mm,ss): " + startStamp(startTime, "start time"));
    appendLine("Rdng#\tChannel\tValue\t\tTime");
    repaintList();

    const std::int32_t last = num_rdgs;
    for (std::int32_t number = 1; number <= last; number = nextReadingNumber(number)) {
        // "+2.21974610E+01,+000000000.256,101": value, time stamp, channel
        query("DATA:REMove? 1", response);
        RemoveTermination();
        const tq::ReadingReply reading = tq::splitReadingReply(response);
        appendLine(tq::numberInList(number) + "\t" + reading.channel + "\t" + reading.value + "\t" +
                   reading.time);
    }

    Check_Error("Readings");
}

// The instrument stores a reading per channel per pass. The wait ends when
// the count equals num_rdgs. It fails when the count passes num_rdgs or when
// the count has not passed its highest value so far for twice the whole
// estimated measurement plus one timer interval, at least 60 s and at most a
// day: a stopped or stalled scan must not hold the program forever. Only a
// new highest count is progress, so a scan restarted over and over (from the
// front panel or another connection), whose count falls and rises again,
// still meets the bound.
void CorvalenExmpl::waitForStoredReadings() {
    constexpr double kShortestBound = 60.0;
    constexpr double kLongestBound = 24.0 * 60.0 * 60.0;
    double bound = 2.0 * (meas_time + timer_interval);
    bound = std::isfinite(bound) ? std::clamp(bound, kShortestBound, kLongestBound) : kLongestBound;

    std::int32_t highest = -1;
    double lastProgress = platform_.clock();
    for (;;) {
        std::int32_t count = 0;
        query("DATA:POINTS?", count);
        if (count == num_rdgs) {
            return;
        }
        if (count > num_rdgs) {
            throw std::runtime_error("the instrument stored " + std::to_string(count) +
                                     " readings, more than the " + std::to_string(num_rdgs) +
                                     " expected");
        }
        const double now = platform_.clock();
        if (count > highest) {
            highest = count;
            lastProgress = now;
        } else if (now - lastProgress > bound) {
            throw std::runtime_error(stalledScanMessage(bound, count, highest, num_rdgs));
        }
    }
}
