#pragma once
// Errors of the item store name the types they are about: one that nobody
// catches ends the program with its what() on standard error, so a misspelled
// or twice-declared type name says which it is. Errors of the data file carry
// nothing; the saver keeps their reason.
#include <stdexcept>
#include <string>

struct StoreException : std::logic_error {
    using std::logic_error::logic_error;
};
struct NullTypeException : StoreException {
    // isNull: the type's items carry no value; else it has no global null item.
    NullTypeException(const std::string& type, bool isNull)
        : StoreException("item type \"" + type + (isNull ? "\" carries no value" : "\" is not a null type"))
    {
    }
};
struct NotRelatedException : StoreException {
    NotRelatedException(const std::string& a, const std::string& b)
        : StoreException("item types \"" + a + "\" and \"" + b + "\" are not related")
    {
    }
};
struct AlreadyRelatedException : StoreException {
    AlreadyRelatedException(const std::string& a, const std::string& b)
        : StoreException("item types \"" + a + "\" and \"" + b + "\" are already related")
    {
    }
};
struct TypeNotFoundException : StoreException {
    explicit TypeNotFoundException(const std::string& type)
        : StoreException("no item type \"" + type + "\" was declared")
    {
    }
};
struct TypeAlreadyExistsException : StoreException {
    explicit TypeAlreadyExistsException(const std::string& type)
        : StoreException("item type \"" + type + "\" is declared twice")
    {
    }
};

class DataLoadFailure { };
class DataSaveFailure { };
