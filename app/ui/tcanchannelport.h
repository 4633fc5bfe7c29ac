#pragma once
// The CAN channel dialog as the main window uses it: the drivers it offers, and a modal
// run on the adapter's settings key that yields the new key on OK. The dialog window
// plugs in behind it (its modal run goes through the user query); tests answer with a
// key of their own.

class TTreeKey;

class TCanChannelPort {
public:
    virtual ~TCanChannelPort() = default;

    // Which drivers the dialog offers, in the order Vector, IXXAT VCI 2, IXXAT VCI 3,
    // simulation, Qt CAN bus.
    virtual void SetStyle(bool vector, bool vci2, bool vci3, bool simulation, bool qtCanBus) = 0;
    // Fills the dialog from key and shows it modally; true when it ended with OK.
    virtual bool Execute(const TTreeKey& key) = 0;
    // The key built by the last OK (before any OK, the key given to Execute).
    virtual const TTreeKey& ResultKey() const = 0;

protected:
    TCanChannelPort() = default;
    TCanChannelPort(const TCanChannelPort&) = default;
    TCanChannelPort& operator=(const TCanChannelPort&) = default;
};
