// Commands and events of the shared folders: sharing, walks and rescans,
// lookups, and what a user may see. The module makes the share manager, so
// the transfer engine's module finds it.
#include "Driver.h"
#include "shares/SharedFoldersManager.h"
#include "store/Data.h"
#include <QCoreApplication>
#include <QTimer>

void RegisterSharedFolderCommands(Driver& driver)
{
    new SharedFoldersManager;
    QTimer::singleShot(0, [] {
        // After the data file was read: the start-up walk. The manager goes
        // when the event loop ends, after the transfer engine that uses it.
        sharedFoldersManager->Init();
        QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit,
            [] { delete sharedFoldersManager; });
    });

    driver.AddCommand(QStringLiteral("share-folder"), QStringLiteral("share-folder <path...>"),
        QStringLiteral("Shares a folder with everybody and walks it."), 1, [](const QStringList& args) {
            ItemPtr folder = sharedFoldersManager->AddSharedFolder(Rest(args, 0));
            folder += d.GetType("shared_public")->GetGlobalNullItem();
        });
    driver.AddCommand(QStringLiteral("wait-shares"), QStringLiteral("wait-shares"),
        QStringLiteral("Prints \"shares-ready <files>\" once no walk is under way."), 0,
        [](const QStringList&) {
            auto* timer = new QTimer(QCoreApplication::instance());
            QObject::connect(timer, &QTimer::timeout, [timer] {
                if (sharedFoldersManager->IsScanning())
                    return;
                timer->deleteLater();
                Driver::Print(QStringLiteral("shares-ready %1").arg(d.GetType("shared_file")->Count()));
            });
            timer->start(20);
        });
    driver.AddCommand(QStringLiteral("rescan"), QStringLiteral("rescan"),
        QStringLiteral("Walks every shared folder again; prints \"rescanned <added> <removed>\"."), 0,
        [](const QStringList&) { sharedFoldersManager->RescanShares(); });
    driver.AddCommand(QStringLiteral("share-file"), QStringLiteral("share-file <path...>"),
        QStringLiteral(
            "Prints \"share-file <size> <path>\" for a shared file, or \"share-file none <path>\"."),
        1, [](const QStringList& args) {
            ItemPtr file = sharedFoldersManager->GetSharedFileItem(Rest(args, 0));
            Driver::Print(
                QStringLiteral("share-file %1 %2")
                    .arg(file ? file["shared_file_size"].AsString() : QStringLiteral("none"), Rest(args, 0)));
        });
    driver.AddCommand(QStringLiteral("visible-share"), QStringLiteral("visible-share <user>"),
        QStringLiteral("Prints \"visible-share <user> <folders> <files>\": what the user may browse."), 1,
        [](const QStringList& args) {
            FileInfoMap share;
            AttributeTranslationTable table;
            sharedFoldersManager->GetSharedFilesAsUserShare(args[0], share, table);
            size_t files = 0;
            for (const auto& [folder, entries] : share)
                files += entries.size();
            Driver::Print(QStringLiteral("visible-share %1 %2 %3").arg(args[0]).arg(share.size()).arg(files));
        });

    QObject::connect(
        sharedFoldersManager, &SharedFoldersManager::SharedFilesRescanned, [](int added, int removed) {
            Driver::Print(QStringLiteral("rescanned %1 %2").arg(added).arg(removed));
        });
    QObject::connect(
        sharedFoldersManager, &SharedFoldersManager::SearchProcessed, [](QString query, bool answered) {
            Driver::Print(QStringLiteral("search-processed %1 %2").arg(answered ? 1 : 0).arg(query));
        });
}
