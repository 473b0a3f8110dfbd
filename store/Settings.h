#pragma once
// Settings: an item of the type "global" named by the key, connected to one
// "global_value" item holding the value as text ("yes" for a set flag, decimal
// text for a number). Run-time switches use "vglobal" the same way and are
// never saved. Connecting a new value replaces the old one.
#include "Data.h"
#include <QString>
#include <functional>

class Settings {
public:
    explicit Settings(const char* type);

    // Declares "global", "vglobal" and "global_value" in the store (once).
    static void CreateTypes(Data& data = d);

    // The setting's item (created when missing) and its value item (or null).
    ItemPtr Key(const char* key) const;
    ItemPtr ValueItem(const char* key) const;
    bool Has(const char* key) const; // a value is set
    QString Get(const char* key) const;
    std::string GetStd(const char* key) const;
    int GetInt(const char* key) const;
    qint64 GetInt64(const char* key) const;
    bool IsYes(const char* key) const;

    void Set(const char* key, const Value& value) const;
    void SetYes(const char* key, bool yes) const; // "yes", or no value at all
    // Writes the value only when the setting has none.
    void SetDefault(const char* key, const Value& value) const;
    void Clear(const char* key) const;

    // Calls f with the new value item each time the setting gets a value.
    void Watch(DataHandler* owner, const char* key, std::function<void(ItemPtr)> f) const;

private:
    const char* m_type;
};

// "global": saved settings; "vglobal": run-time switches.
extern const Settings settings;
extern const Settings runtimeSettings;
