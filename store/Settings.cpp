#include "Settings.h"

const Settings settings("global");
const Settings runtimeSettings("vglobal");

Settings::Settings(const char* type)
    : m_type(type)
{
}

void Settings::CreateTypes(Data& data)
{
    Type* global = data.DeclareType("global", kEntity);
    Type* vglobal = data.DeclareType("vglobal", kEntity);
    Type* value = data.DeclareType("global_value", kAttribute);
    // A setting has one value; one value item serves many settings.
    data.RelateTypes(global, value, Many, One);
    data.RelateTypes(vglobal, value, Many, One);
}

ItemPtr Settings::Key(const char* key) const { return d.GetType(m_type)->GetItem(key); }

ItemPtr Settings::ValueItem(const char* key) const
{
    ItemPtr k = d.GetType(m_type)->HasItem(key);
    return k["global_value"];
}

bool Settings::Has(const char* key) const { return !ValueItem(key).IsNull(); }
QString Settings::Get(const char* key) const { return ValueItem(key).AsString(); }
std::string Settings::GetStd(const char* key) const { return ValueItem(key).AsStdString(); }
int Settings::GetInt(const char* key) const { return ValueItem(key).AsInt(); }
qint64 Settings::GetInt64(const char* key) const { return ValueItem(key).AsInt64(); }
bool Settings::IsYes(const char* key) const { return ValueItem(key).Text() == "yes"; }

void Settings::Set(const char* key, const Value& value) const
{
    Key(key) += d.GetType("global_value")->GetItem(value);
}

void Settings::SetYes(const char* key, bool yes) const
{
    if (yes)
        Set(key, "yes");
    else
        Clear(key);
}

void Settings::SetDefault(const char* key, const Value& value) const
{
    if (!Has(key))
        Set(key, value);
}

void Settings::Clear(const char* key) const
{
    ItemPtr k = d.GetType(m_type)->HasItem(key);
    k.Disconnect("global_value");
}

void Settings::Watch(DataHandler* owner, const char* key, std::function<void(ItemPtr)> f) const
{
    // Watch the whole type and pick the key, so the watch outlives the
    // setting's own item (it may be removed and made again).
    auto* root = new PathNode(&d, m_type);
    new PathNode(root, "global_value", PathConnectTrigger);
    auto handler = [f = std::move(f), name = std::string(key)](ItemPtr k) {
        if (k.Text() == name)
            f(k["global_value"]);
    };
    d.AddPathEventHandler(root, owner->Register(new FunctionEventHandler<ItemPtr, decltype(handler)>(handler)));
}
