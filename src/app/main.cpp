#include "app/MonitorApp.h"

int main(int argc, char** argv)
{
    vantor::MonitorApp app(argc, argv);
    return app.run();
}
