// Writes the web-based report of an empty history to the file named. The page's build takes the
// report's script from it: the page opens the report in a window that keeps the page's content
// security policy, which then names that one script by its hash.
#include "history/HistoryReport.h"

#include <fstream>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    std::ofstream out(argv[1], std::ios::binary);
    vantor::writeReport(out, vantor::HistoryData::fromText("", ""), 0);
    out.close();
    return out ? 0 : 1;
}
