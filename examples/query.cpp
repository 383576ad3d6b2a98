// SPDX-License-Identifier: MIT
// Asks an instrument who it is. Build it with
//   g++ -std=c++17 query.cpp $(pkg-config --cflags --libs corvalen)
// and run it as ./a.out GPIB0::9::INSTR (or any resource string or alias).
#include <corvalen/corvalen.h>

#include <chrono>
#include <iostream>

int main(int argc, char** argv) {
    try {
        corvalen::Instrument dev = corvalen::open(argc > 1 ? argv[1] : "GPIB0::9::INSTR");
        dev.setTimeout(std::chrono::seconds(5));
        std::cout << dev.query("*IDN?") << '\n';
        dev.write("*CLS");
        std::cout << dev.query("SYSTem:ERRor?") << '\n';
    } catch (const corvalen::TimeoutError& error) {
        std::cerr << "query: " << error.what() << '\n';
        return 3;
    } catch (const corvalen::IoError& error) {
        std::cerr << "query: " << error.what() << '\n';
        return 1;
    }
}
