// SPDX-License-Identifier: MIT
#include "tests/program/program_fixture.h"

#include <QTest>

#include <array>
#include <cstdio>
#include <utility>

namespace tq::testing {

std::string goodReading(int i) {
    const int pass = i / 20;
    const int slot = i % 20;
    char line[80];
    // Thermocouples read about 22 degrees, the DC inputs about 1.5 V.
    const double value = slot < 10 ? 22.0 + 0.01 * i : 1.5 + 0.001 * i;
    std::snprintf(line, sizeof line, "%+.8E,%+014.3f,%d\n", value, pass * 10.0 + slot * 0.25,
                  101 + slot);
    return line;
}

void scriptGoodInstrument(Script& script) {
    script.answer("*IDN?", {"Corvalen,TQ820A,MY42000123,2.1-1.0-1.0\n"});
    script.answer("SYSTem:CTYPe? 100", {"Corvalen,TQ711A,0,1.0\n"});
    script.answer("INSTrument:DMM:INSTalled?", {"1\n"});
    script.answer("INSTrument:DMM?", {"1\n"});
    script.answer("SYSTem:ERRor?", {"+0,\"No error\"\n"});
    script.answer("*RST;*OPC?", {"1\n"});
    script.answer("*OPC?", {"1\n"});
    script.answer("ROUTe:SCAN:SIZE?", {"+20\n"});
    script.answer("TRIGger:COUNt?", {"+2\n"});
    script.answer("ROUTe:CHANnel:DELay? (@101)", {"+2.50000000E-01\n"});
    script.answer("TRIGger:TIMer?", {"+1.00000000E+01\n"});
    script.answer("SYSTem:DATE?", {"+2026,+12,+09\n"});
    script.answer("SYSTem:TIME?", {"+11,+42,+07.000\n"});
    script.answer("DATA:POINTS?", {"+0\n", "+20\n", "+40\n"});
    std::deque<std::string> readings;
    for (int i = 0; i < 40; ++i) {
        readings.push_back(goodReading(i));
    }
    script.answer("DATA:REMove? 1", std::move(readings));
}

std::vector<std::string> goodRunCalls() {
    std::vector<std::string> calls = {
        "Output *IDN?",
        "Enter string",
        "Output SYSTem:CTYPe? 100",
        "Enter string",
        "Output INSTrument:DMM:INSTalled?",
        "Enter string",
        "Output INSTrument:DMM?",
        "Enter string",
        "Output ABORt",
        "Output SYSTem:ERRor?",
        "Enter string",
        "Output *RST;*OPC?",
        "Enter string",
        "PostResetCall",
        "Output CONFigure:TEMPerature TCouple, J, (@101:110)",
        "Output UNIT:TEMPerature C, (@101:110)",
        "Output SENSe:TEMPerature:TRANSducer:TCouple:RJUNction:TYPE INTernal, (@101:110)",
        "Output CONFigure:VOLTage:DC 10, (@111:120)",
        "Output SENSe:VOLTage:NPLC 1,(@111:120)",
        "Output ROUTe:SCAN (@101:120)",
        "Output ROUTe:CHANnel:DELay 0.25, (@101:120)",
        "Output TRIGger:COUNt 2",
        "Output TRIGger:SOURce TIMer",
        "Output TRIGger:TIMer 10",
        "Output FORMat:READing:TIME:TYPE RELative",
        "Output FORMat:READing:TIME ON",
        "Output FORMat:READing:CHANnel ON",
        "Output *OPC?",
        "Enter string",
        "Output ROUTe:SCAN:SIZE?",
        "Enter number",
        "Output TRIGger:COUNt?",
        "Enter int32",
        "Output ROUTe:CHANnel:DELay? (@101)",
        "Enter double",
        "Output TRIGger:TIMer?",
        "Enter double",
        "Output SYSTem:ERRor?",
        "Enter string",
        "Output INITiate",
        "Output SYSTem:DATE?",
        "Enter string",
        "Output SYSTem:TIME?",
        "Enter string",
    };
    for (int i = 0; i < 3; ++i) {
        calls.insert(calls.end(), {"Output DATA:POINTS?", "Enter int32"});
    }
    for (int i = 0; i < 40; ++i) {
        calls.insert(calls.end(), {"Output DATA:REMove? 1", "Enter string"});
    }
    calls.insert(calls.end(), {"Output SYSTem:ERRor?", "Enter string"});
    return calls;
}

ProgramTest::ProgramTest() {
    freshInstrument();
}

void ProgramTest::freshInstrument() {
    script = std::make_shared<Script>();
    script->clock = &clock;
    scriptGoodInstrument(*script);
    messages.clear();
    endStatus.reset();
}

void ProgramTest::restockReadings() {
    script->answer("DATA:POINTS?", {"+40\n"});
    std::deque<std::string> readings;
    for (int i = 0; i < 40; ++i) {
        readings.push_back(goodReading(i));
    }
    script->answer("DATA:REMove? 1", readings);
}

std::string ProgramTest::clickCapturingStderr(const char* buttonName) {
    ::testing::internal::CaptureStderr();
    click(buttonName);
    return ::testing::internal::GetCapturedStderr();
}

void ProgramTest::openWindow() {
    Platform platform;
    platform.message = [this](const std::string& title, const std::string& text, MessageIcon icon) {
        messages.push_back(Message{title, text, icon, lines(), script->calls.size()});
    };
    platform.clock = [this] { return clock.read(); };
    platform.end = [this](int status) {
        endStatus = status;
        throw ProgramEnd{status};
    };
    // Scripted failures count the calls from the first click on.
    const std::optional<std::size_t> failAtCall = std::exchange(script->failAtCall, std::nullopt);
    window = std::make_unique<CorvalenExmpl>(std::make_unique<FakeControl>(script), platform);
    script->calls.clear();
    script->failAtCall = failAtCall;
}

void ProgramTest::click(const char* buttonName) {
    QTest::mouseClick(button(buttonName), Qt::LeftButton);
}

QPushButton* ProgramTest::button(const char* name) const {
    auto* found = window->findChild<QPushButton*>(QString::fromLatin1(name));
    if (found == nullptr) {
        ADD_FAILURE() << "no button " << name;
    }
    return found;
}

QListWidget* ProgramTest::list() const {
    return window->findChild<QListWidget*>(QStringLiteral("List1"));
}

std::vector<std::string> ProgramTest::lines() const {
    std::vector<std::string> out;
    const QListWidget* listBox = list();
    for (int row = 0; row < listBox->count(); ++row) {
        out.push_back(listBox->item(row)->text().toStdString());
    }
    return out;
}

std::vector<std::string> ProgramTest::callsFrom(std::size_t from) const {
    const std::vector<std::string> all = script->texts();
    return {all.begin() + static_cast<std::ptrdiff_t>(std::min(from, all.size())), all.end()};
}

}  // namespace tq::testing
