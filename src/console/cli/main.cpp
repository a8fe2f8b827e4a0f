#include "sockets/NetSocket.h"
#include "console/cli/ConsoleCli.h"

#include <iostream>

int main(int argc, char** argv)
{
    if (!vantor::initializeSockets()) {
        std::cerr << "vantor-console: " << vantor::socketsInitializationFailedText << '\n';
        return vantor::console::exitFailed;
    }
    return vantor::console::runConsole(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
