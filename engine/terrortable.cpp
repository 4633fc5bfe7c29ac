#include "engine/terrortable.h"

#include <cstring>

namespace {

// Only rows with a category: rows without one never match.
constexpr TErrorRow kRows[] = {
    {"TCanBuffer::Write", "write error", "CAN error", "Sending message failed"},
    {"TCanBuffer::OnLoop", "unknown error", "CAN error", "Undefined error occured"},
    // Frames a channel could not deliver; the detail says how many and where.
    {"TCanAdapters::CloseChannel", "Frames not delivered", "CAN error", "Frames could not be delivered"},
    {"TRunEngine::TimerSysTimer", "Frames not delivered", "CAN error", "Frames could not be delivered"},
    {"TACommunication::Write", "Send buffer full", "CAN error", "Send buffer full, frames are dropped"},
    {"TACommunication::Receive", "Receive buffer full", "CAN error", "Receive buffer full, received frames are dropped"},
    {"", "Logfile Read Error", "Log file error", "Reading CAN log entry failed"},
    {"TCanHigh::Add", "multipacket index error", "CAN packet error", "Index of CAN multi packet is wrong"},
    {"TCanHigh::Add", "multipacket index overflow", "CAN packet error", "Index of CAN multi packet is wrong"},
    {"TCanHigh::Add", "last multipacket not filled with FF", "CAN packet error", "CAN multi packet not filled with FF"},
    {"TCanHigh::Add", "multipacket length <=8", "CAN packet error", "CAN multi packet announces 8 bytes or fewer"},
    {"TCanHighDB::AddFrame", "multipacket transfer incomplete", "CAN packet error", "CAN multi packet transfer incomplete"},
    {"quorvella-cli", "frames not sent", "CAN error", "Frames were not sent"},
    // Notices: the frames went out, later than due or as the log had them.
    {"TRunEngine::TimerSysTimer", "frames late", "Timing notice", "Frames left later than their time"},
    {"TRunEngine::TimerSysTimer", "transfers incomplete", "Transport notice",
     "Transport transfers of the log were incomplete or malformed; they were sent as the log has them"},
    {"TRunEngine::TimerSysTimer", "run stalled", "Timing notice", "The run was held up and went on from the present"},
    // Another J1939 node of higher priority took the simulator's source address.
    {"TRunEngine::AddressClaim", "Address claim lost", "J1939 error",
     "Address claim lost: another node has the source address, the simulator sends nothing more"},
    {"TRunEngine::AddressClaim", "Address not claimed", "J1939 notice",
     "The source address is no node's address and was not claimed"},
    {"TCanAdapters::OpenChannel", "Driver not supported", "CAN configuration error", "Selected driver not supported"},
    {"TCanDrvVector::TCanDrvVector", "ncdOpenDriver#", "VECTOR initialisation error", "Opening driver failed. Errorcode="},
    {"TCanDrvVector::TCanDrvVector", "ncdGetDriverConfig#", "VECTOR initialisation error", "Reading driver configuration failed. Errorcode="},
    {"TCanDrvVector::~TCanDrvVector", "ncdOpenDriver#", "VECTOR card error", "Closing driver failed. Errorcode="},
    {"TCanDriverVector::OpenChannel", "Channels exeeded", "VECTOR card error", "Channels exceeded"},
    {"TCanDriverVector::DecodeChannelID", "Card not supported", "VECTOR initialisation error", "Card not supported"},
    {"TCanChannelVector::TCanChannelVector", "Channel not found", "VECTOR initialisation error", "Channel not found"},
    {"TCanChannelVector::TCanChannelVector", "OpenPort failed", "VECTOR initialisation error", "Opening port failed"},
    {"TCanChannelVector::TCanChannelVector", "INVALID_PORTHANDLE", "VECTOR initialisation error", "Invalid porthandle"},
    {"TCanChannelVector::TCanChannelVector", "ncdSetChannelParams failed", "VECTOR initialisation error", "Setting channel parameter failed"},
    {"TCanChannelVector::TCanChannelVector", "ncdSetChannelAcceptance failed", "VECTOR initialisation error", "Setting channel acceptance failed"},
    {"TCanChannelVector::TCanChannelVector", "ncdSetNotification failed", "VECTOR initialisation error", "Setting notification failed"},
    {"TCanChannelVector::TCanChannelVector", "ncdActivateChannel failed", "VECTOR initialisation error", "Activating channel failed"},
    {"TCanChannelVector::~TCanChannelVector", "ncdDeactivateChannel failed", "VECTOR driver error", "Deactivating channel failed"},
    {"TCanChannelVector::~TCanChannelVector", "ncdClosePort failed", "VECTOR driver error", "Closing port failed"},
    {"TCanChannelVector::Read", "ncdReceive1:#", "VECTOR receive error", "Receiving message failed. Errorcode="},
    {"TCanChannelVector::Write", "ncdTransmit:#", "VECTOR transmitt error", "Transmitting message failed. Errorcode="},
    {"TCanDriverVCI::TCanDriverVCI", "Dll defect or not found", "IXXAT driver error", "DLL missing or defect"},
    {"TCanDriverVCI::OpenChannel", "Channels exeeded", "IXXAT driver error", "Channels exeeded"},
    {"TCanDriverVCI::OpenChannel", "Unknown card '#", "IXXAT configuration error", "Card not supported. Name='"},
    {"TCanDriverVCI::OpenChannel", "more than 4 Boards open", "IXXAT configuration error", "More than four boards open"},
    {"TCanDriverVCI::OpenChannel", "Board prepare error", "IXXAT initialisation error", "Board not prepared"},
    {"TCanChannelVCI::TCanChannelVCI", "Init can error", "IXXAT initialisation error", "CAN Initialization falied"},
    {"TCanChannelVCI::TCanChannelVCI", "SetAccMask error", "IXXAT initialisation error", "Setting access failed"},
    {"TCanChannelVCI::TCanChannelVCI", "ConfigTxQueue error", "IXXAT initialisation error", "Configuration transmitt buffer failed"},
    {"TCanChannelVCI::TCanChannelVCI", "ConfigRxQueue error", "IXXAT initialisation error", "Configuration receive buffer failed"},
    {"TCanChannelVCI::TCanChannelVCI", "Assign error", "IXXAT initialisation error", "Assigning card failed"},
    {"TCanChannelVCI::TCanChannelVCI", "StartCan error", "IXXAT initialisation error", "Starting CAN failed"},
    {"TCanChannelVCI::Read", "Error:#", "IXXAT receive error", "Receiving CAN message failed. Errorcode="},
    {"TCanChannelVCI::Write", "Send queue full", "IXXAT transmit error", "Transmit buffer is full"},
    {"TCanChannelVCI::Write", "Tx Error", "IXXAT transmit error", "Transmitting message failed"},
    // The Qt CAN bus driver (SocketCAN, PEAK, virtual CAN): the rest of its message says what to do.
    {"TCanChannelQtCanBus::TCanChannelQtCanBus", "Description incomplete#", "CAN configuration error", "Qt CAN bus channel needs a plugin and an interface"},
    {"TCanChannelQtCanBus::TCanChannelQtCanBus", "Bit rate invalid#", "CAN configuration error", "Bit rate is not a number of bit/s"},
    {"TCanChannelQtCanBus::TCanChannelQtCanBus", "Plugin unknown#", "CAN configuration error", "Qt CAN bus plugin not found"},
    {"TCanChannelQtCanBus::TCanChannelQtCanBus", "Interface not found#", "CAN configuration error", "CAN interface not found"},
    {"TCanChannelQtCanBus::TCanChannelQtCanBus", "Device not created#", "Qt CAN bus initialisation error", "CAN device could not be made (vendor library missing?)"},
    {"TCanChannelQtCanBus::TCanChannelQtCanBus", "SocketCAN not available#", "Qt CAN bus initialisation error", "SocketCAN is not available on this machine"},
    {"TCanChannelQtCanBus::TCanChannelQtCanBus", "Permission denied#", "Qt CAN bus initialisation error", "No permission to use the CAN interface"},
    {"TCanChannelQtCanBus::TCanChannelQtCanBus", "Bit rate not set#", "Qt CAN bus initialisation error", "Bit rate could not be set"},
    {"TCanChannelQtCanBus::TCanChannelQtCanBus", "Connect failed#", "Qt CAN bus initialisation error", "Connecting the CAN interface failed"},
    {"TCanChannelQtCanBus::TCanChannelQtCanBus", "Connect timeout#", "Qt CAN bus initialisation error", "CAN interface did not connect in time"},
    {"TCanChannelQtCanBus::Write", "Device error#", "Qt CAN bus error", "CAN device reported an error"},
    {"TCanChannelQtCanBus::Write", "Send queue full#", "Qt CAN bus transmit error", "Transmit queue is full"},
    {"TCanDriverQtCanBus::OpenChannel", "Channels exeeded", "CAN configuration error", "Too many CAN channels open"},
    {"TQtCanBusThread::Open", "Qt CAN bus thread stopped#", "Qt CAN bus error", "CAN channel cannot be opened while the program ends"},
    // Files of the program's own choosing: the output log, the runner's report, its standard
    // output and the settings file it is given; the detail names the file and the reason.
    {"TLogOut::Open", "Output log not opened", "Log file error", "Opening the output log failed"},
    {"TLogOut::Write", "Output log write error", "Log file error", "Writing the output log failed"},
    {"TCliRunner::WriteReport", "Report not written", "Report file error", "Writing the timing report failed"},
    {"TCliRunner::Print", "Output error", "Output error", "Writing to standard output failed"},
    {"TCliRunner::ReadSettings", "Settings file error", "Settings error", "The settings file cannot be used"},
    {"TSettingsFile::Save", "Settings not saved", "Settings error", "The settings could not be saved"},
    {"TCliRunner::ExportDbc", "DBC not written", "DBC file error", "Writing the DBC file failed"},
    {"TCliRunner::Start", "Thread not started", "Resource error", "A thread could not be started"},
    // The window's scenario, its recording and its control API; the detail says which
    // line, file or port and why.
    {"TFQuorvella::LoadScenario", "Scenario not loaded", "Scenario error", "The scenario cannot be played"},
    {"TFQuorvella::StartControl", "Control API not started", "Control API error", "The control API could not be started"},
    {"TControlServer::Start", "Control API not started", "Control API error", "The control API could not be started"},
    {"TFSim_Lkw::Record", "Recording not written", "Scenario error", "The recorded drive could not be written"},
    {"TFSim_Lkw::Record", "Recording incomplete", "Scenario error", "The recording does not hold everything that was done"},
};

bool StartsWith(const std::string& text, std::string_view prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0 && text.size() >= prefix.size();
}

}  // namespace

std::span<const TErrorRow> TErrorTable::Rows()
{
    return kRows;
}

TErrorReport TErrorTable::Lookup(const TBaseError& error)
{
    const std::string& operation = error.Operation().str();
    const std::string& message = error.Message().str();
    for (const TErrorRow& row : kRows) {
        if (!StartsWith(operation, row.Operation)) continue;
        std::string_view pattern(row.Pattern);
        const size_t hash = pattern.find('#');
        const bool withCode = hash != std::string_view::npos;
        if (withCode) pattern = pattern.substr(0, hash);
        if (!StartsWith(message, pattern)) continue;
        TErrorReport report;
        report.Category = row.Category;
        report.Text = row.Text;
        if (withCode) report.Text += TAString(message.substr(hash));
        report.BoxText = report.Category + "\n" + report.Text + "\n";
        report.Detail = error.Detail();
        if (!report.Detail.IsEmpty()) report.BoxText += report.Detail + "\n";
        return report;
    }
    TErrorReport report;
    report.Fatal = true;
    report.BoxText = "Fatal error occured\nModul: " + error.Operation() + "\nMessage: " + error.Message();
    report.Detail = error.Detail();
    if (!report.Detail.IsEmpty()) report.BoxText += "\n" + report.Detail;
    return report;
}
