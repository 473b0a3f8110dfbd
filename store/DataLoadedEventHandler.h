#pragma once
// Told once per run, after the data file has been read: DataLoaded(), and then
// NoData() when there was no data to read. An object adds itself to the data
// saver's set when it is constructed after the saver, and leaves it when it
// is destroyed.
class DataLoadedEventHandler {
public:
    DataLoadedEventHandler();
    virtual ~DataLoadedEventHandler();
    virtual void DataLoaded() { }
    virtual void NoData() { }
};
