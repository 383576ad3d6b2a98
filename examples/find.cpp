// SPDX-License-Identifier: MIT
// Lists the instruments on the LAN (VXI-11 broadcast and mDNS) and, given a
// board number, the listeners of that GPIB board:  ./find [board]
#include <corvalen/corvalen.h>

#include <chrono>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    corvalen::FindOptions options;
    options.timeout = std::chrono::seconds(5);
    if (argc > 1) options.gpibBoard = std::stoi(argv[1]);
    int found = 0;
    corvalen::find(
        options,
        [&](const corvalen::Found& entry) {
            ++found;
            std::cout << entry.resource << '\t' << entry.identity << '\t' << entry.how << std::endl;
        },
        [](const std::string& note) { std::cerr << "find: " << note << '\n'; });
    return found > 0 ? 0 : 4;
}
