#include "SequencerPeer.h"

#include <alsa/asoundlib.h>

SequencerPeer::SequencerPeer(const std::string& name)
{
    if (snd_seq_open(&m_seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0)
        return;
    snd_seq_set_client_name(m_seq, name.c_str());
    snd_seq_create_simple_port(m_seq, "port",
                               SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ | SND_SEQ_PORT_CAP_WRITE |
                                   SND_SEQ_PORT_CAP_SUBS_WRITE,
                               SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    snd_midi_event_new(1024, &m_decoder);
    snd_midi_event_no_status(m_decoder, 1);
    m_client = snd_seq_client_id(m_seq);
}

SequencerPeer::~SequencerPeer()
{
    if (m_decoder)
        snd_midi_event_free(m_decoder);
    if (m_seq)
        snd_seq_close(m_seq);
}

bool SequencerPeer::listenTo(const char* address)
{
    snd_seq_addr_t sender;
    return m_seq && snd_seq_parse_address(m_seq, &sender, address) == 0 &&
           snd_seq_connect_from(m_seq, 0, sender.client, sender.port) == 0;
}

std::vector<Bytes> SequencerPeer::messages()
{
    snd_seq_event_t* event = nullptr;
    while (m_seq && snd_seq_event_input(m_seq, &event) >= 0 && event) {
        uint8_t bytes[1024];
        const long size = snd_midi_event_decode(m_decoder, bytes, sizeof bytes, event);
        if (size > 0)
            m_received.emplace_back(bytes, bytes + size);
    }
    return m_received;
}

void SequencerPeer::forget()
{
    messages();
    m_received.clear();
}
