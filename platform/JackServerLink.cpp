#include "JackServiceState.h"

#include <utility>

namespace {

// libjack reports a missing server and a dying one on stderr; the program
// has no console to speak to.
void Silent(const char*) {}

}  // namespace

JackDeviceService::JackDeviceService(std::string clientName) : m_clientName(std::move(clientName))
{
    sem_init(&m_cycleEnded, 0, 0);
    m_news.registered.reserve(PortNewsRoom);
    m_heard.registered.reserve(PortNewsRoom);
    for (JackPort& in : m_inputs)
        in.reader = std::make_unique<MidiInputReader>();
    for (JackPort& out : m_outputs) {
        for (auto [ring, bytes] : {std::pair{&out.outgoing, OutgoingBytes}, std::pair{&out.held, HeldBytes}}) {
            *ring = jack_ringbuffer_create(bytes);
            if (*ring)
                jack_ringbuffer_mlock(*ring);
        }
    }
}

JackDeviceService::~JackDeviceService()
{
    {
        std::lock_guard lock(m_watchMutex);
        m_stopping = true;
    }
    m_watchWake.notify_all();
    if (m_watcher.joinable())
        m_watcher.join();
    if (m_found)
        jack_client_close(m_found);
    for (bool input : {true, false}) {
        for (JackPort& record : input ? m_inputs : m_outputs) {
            if (record.inUse)
                close(&record, input);
        }
    }
    if (m_client) {
        if (!gone())
            jack_deactivate(m_client);
        jack_client_close(m_client);
    }
    for (JackPort& out : m_outputs) {
        for (jack_ringbuffer_t* ring : {out.outgoing, out.held}) {
            if (ring)
                jack_ringbuffer_free(ring);
        }
    }
    sem_destroy(&m_cycleEnded);
}

// Without a client (no server answered yet) the service starts as after its
// server has gone: open ports wait on their devices, and the watcher looks
// for a server.
bool JackDeviceService::start(jack_client_t* client)
{
    for (const JackPort& out : m_outputs) {
        if (!out.outgoing || !out.held) {
            if (client)
                jack_client_close(client);
            return false;
        }
    }
    if (client && !adopt(client))
        return false;
    if (!client)
        searchForServer();
    m_watcher = std::thread(&JackDeviceService::watch, this);
    return true;
}

// Makes a freshly opened client ours: callbacks, activation, our open ports
// registered again and the device lists brought up to date.
bool JackDeviceService::adopt(jack_client_t* client)
{
    jack_set_process_callback(client, &JackDeviceService::Process, this);
    jack_on_shutdown(client, &JackDeviceService::Shutdown, this);
    jack_set_port_registration_callback(client, &JackDeviceService::PortRegistered, this);
    jack_set_port_rename_callback(client, &JackDeviceService::PortRenamed, this);
    jack_set_client_registration_callback(client, &JackDeviceService::ClientRegistered, this);
    // Set before activation: the process thread reads it, and starts only then.
    m_client = client;
    m_serverGone.store(false, std::memory_order_release);
    if (jack_activate(client) != 0) {
        jack_client_close(client);
        m_client = nullptr;
        m_serverGone.store(true, std::memory_order_release);
        return false;
    }
    for (bool input : {true, false}) {
        for (JackPort& record : input ? m_inputs : m_outputs) {
            if (record.inUse)
                registerPort(record, input);
        }
    }
    refreshDevices();
    connectWaitingPorts();
    return true;
}

// After the server has gone: its client and ports are dead; our ports stay
// open on their devices and wait for a server to come back.
void JackDeviceService::dropDeadClient()
{
    for (bool input : {true, false}) {
        for (JackPort& record : input ? m_inputs : m_outputs)
            record.port.store(nullptr, std::memory_order_seq_cst);
    }
    waitOutOfCycle();
    for (JackPort& out : m_outputs) {
        for (jack_ringbuffer_t* ring : {out.outgoing, out.held}) {
            if (ring)
                jack_ringbuffer_reset(ring);
        }
    }
    jack_client_close(m_client);
    m_client = nullptr;
    std::lock_guard lock(m_newsMutex);
    m_news.registered.clear();
    m_news.lost = false;
    m_sources.markAllAbsent();
    m_sinks.markAllAbsent();
}

bool JackDeviceService::update()
{
    bool changed = false;
    if (m_client && gone()) {
        dropDeadClient();
        searchForServer();
        changed = true;
    }
    if (!m_client) {
        jack_client_t* found = nullptr;
        {
            std::lock_guard lock(m_watchMutex);
            std::swap(found, m_found);
        }
        if (found && adopt(found))
            return true;
        if (found)
            searchForServer();
        return changed;
    }
    if (m_portsChanged.exchange(false, std::memory_order_acq_rel))
        changed = refreshDevices();
    connectWaitingPorts();
    return changed;
}

// The notification callbacks run where no JACK call is allowed: they only
// set a flag and wake the main thread, which does the work in update().
void JackDeviceService::Shutdown(void* self)
{
    auto* service = static_cast<JackDeviceService*>(self);
    service->m_serverGone.store(true, std::memory_order_release);
    service->notify();
}

void JackDeviceService::searchForServer()
{
    {
        std::lock_guard lock(m_watchMutex);
        m_searching = true;
        m_wakeAt = std::min(m_wakeAt, Clock::now() + ServerSearchInterval);
    }
    m_watchWake.notify_all();
}

void JackDeviceService::retryLater()
{
    {
        std::lock_guard lock(m_watchMutex);
        m_retryWanted = true;
        m_wakeAt = std::min(m_wakeAt, Clock::now() + ConnectRetryInterval);
    }
    m_watchWake.notify_all();
}

void JackDeviceService::watch()
{
    std::unique_lock lock(m_watchMutex);
    while (!m_stopping) {
        if (m_wakeAt == Clock::time_point::max()) {
            m_watchWake.wait(lock);
            continue;
        }
        if (m_watchWake.wait_until(lock, m_wakeAt) != std::cv_status::timeout || Clock::now() < m_wakeAt)
            continue;
        m_wakeAt = Clock::time_point::max();
        bool wake = std::exchange(m_retryWanted, false);
        if (m_searching && !m_found) {
            lock.unlock();
            // Never starts a server: it only asks whether one answers.
            jack_status_t status;
            jack_client_t* client = jack_client_open(m_clientName.c_str(), JackNoStartServer, &status);
            lock.lock();
            if (client) {
                m_found = client;
                m_searching = false;
                wake = true;
            } else {
                m_wakeAt = std::min(m_wakeAt, Clock::now() + ServerSearchInterval);
            }
        }
        if (wake) {
            lock.unlock();
            notify();
            lock.lock();
        }
    }
}

MidiDeviceService* OpenJackDeviceService(const char* clientName, bool waitForServer)
{
    jack_set_error_function(&Silent);
    jack_set_info_function(&Silent);
    jack_status_t status;
    jack_client_t* client = jack_client_open(clientName, JackNoStartServer, &status);
    if (!client && !waitForServer)
        return nullptr;
    auto* service = new JackDeviceService(clientName);
    if (!service->start(client)) {
        delete service;
        return nullptr;
    }
    return service;
}
