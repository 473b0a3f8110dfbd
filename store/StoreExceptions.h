#pragma once
// Errors of the item store are thrown as pointers to these empty classes and
// caught by pointer; errors of the data file are thrown by value.

class StoreException {
public:
    virtual ~StoreException() = default;
};
class NullTypeException : public StoreException { };
class NotRelatedException : public StoreException { };
class AlreadyRelatedException : public StoreException { };
class TypeNotFoundException : public StoreException { };
class TypeAlreadyExistsException : public StoreException { };

class DataLoadFailure { };
class DataSaveFailure { };

// Throws a pointer to the one instance of a store exception (never delete it).
template <class E> [[noreturn]] void ThrowStore()
{
    static E instance;
    throw &instance;
}
