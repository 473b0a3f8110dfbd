#include "ConfigurationImporter.h"

#include "Data.h"
#include "Stream.h"

#include <QFile>
#include <vector>

bool ConfigurationImporter::ImportUserList(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return ImportUserList(file);
}

bool ConfigurationImporter::ImportUserList(QIODevice& device)
{
    Type* users = d.HasType("user");
    if (!users || !d.HasType("in_user_list"))
        return false;

    // Names are kept only once their bytes have arrived; a hostile count costs
    // nothing before the file proves it.
    Stream in(&device);
    quint32 count;
    if (!in.ReadCount(count))
        return false;
    std::vector<std::string> names;
    for (quint32 n = 0; n < count; ++n) {
        std::string name;
        if (!in.ReadString(name))
            return false;
        names.push_back(std::move(name));
    }

    for (const std::string& name : names) {
        // A user needs a name.
        if (name.empty())
            continue;
        ItemPtr user = users->GetItem(name);
        if (!user)
            user = users->NewItem(name);
        user.NewItem("in_user_list");
    }
    return true;
}
