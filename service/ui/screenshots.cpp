#include "service/ui/screenshots.h"

#include <QApplication>
#include <QDir>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPixmap>

#include "service/ui/serial_no_edit.h"
#include "service/ui/serial_program_window.h"
#include "service/ui/service_window_commands.h"
#include "service/ui/temp_comp_window.h"

namespace tolvan {

namespace {

constexpr int kMargin = 12;

bool renderOne(const QString& path, ConnectionFactory connect, void (ServiceWindowCommands::*command)(),
               const QString& entry)
{
    radioStorage storage;
    radioOperations operations;
    int lock = 0;
    QMdiArea area;
    area.setBackground(QColor(128, 128, 128));
    bool written = false;
    {
        ServiceWindowCommands commands(&area, storage, operations, &lock, std::move(connect));
        (commands.*command)();
        QMdiSubWindow* frame = area.subWindowList().value(0);
        if (frame) {
            if (!entry.isEmpty()) {
                if (auto* field = frame->widget()->findChild<TSerialNoEdit*>())
                    field->setText(entry);
            }
            area.resize(frame->width() + 2 * kMargin, frame->height() + 2 * kMargin);
            frame->move(kMargin, kMargin);
            area.show();
            QApplication::processEvents();
            written = area.grab().save(path, "PNG");
        }
    }
    // Lets the frame's deferred deletion run while the area still exists.
    QApplication::processEvents();
    return written;
}

}  // namespace

QStringList renderServiceWindows(const QString& directory, ConnectionFactory connect)
{
    SilentReporter silent;
    const bool quiet = QtReporter::interceptor() == nullptr;
    if (quiet)
        QtReporter::setInterceptor(&silent);

    const QDir dir(directory);
    struct Shot {
        const char* file;
        void (ServiceWindowCommands::*command)();
        const char* entry;
    };
    const Shot shots[] = {
        {"tempcomp-read.png", &ServiceWindowCommands::CmTempCompRead, ""},
        {"tempcomp-write.png", &ServiceWindowCommands::CmTempCompWrite, "0012ABCD"},
        {"serial-program.png", &ServiceWindowCommands::CmProgramSerialNo, "TVN0012345"},
    };
    QStringList written;
    for (const Shot& shot : shots) {
        const QString path = dir.filePath(QString::fromLatin1(shot.file));
        if (renderOne(path, connect, shot.command, QString::fromLatin1(shot.entry)))
            written << path;
    }

    if (quiet)
        QtReporter::setInterceptor(nullptr);
    return written;
}

}  // namespace tolvan
