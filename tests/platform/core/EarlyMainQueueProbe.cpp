// Posts to the main queue before the application object exists and posts nothing after it: exits 0 once the
// early blocks have run in posting order on the GUI thread, 1 when the deadline passes first.
#include "platform/core/DispatchQueue.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    using namespace vornakel;
    std::vector<int> order;
    DispatchQueue::main()->async([&] { order.push_back(1); });
    DispatchQueue::main()->async([&] {
        order.push_back(2);
        QCoreApplication::exit(order == std::vector<int>{1, 2} && DispatchQueue::main()->isCurrent() ? 0 : 1);
    });

    QCoreApplication app(argc, argv);
    QTimer::singleShot(10000, &app, [] {
        std::fprintf(stderr, "the early main-queue blocks never ran\n");
        QCoreApplication::exit(1);
    });
    return app.exec();
}
