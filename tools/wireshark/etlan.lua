-- ET-LAN / MEWTOCOL-COM dissector for Wireshark and tshark.
--
-- Decodes the TCP traffic between a host and the ET-LAN units of Matsushita
-- FP PLCs: the 12-byte ET-LAN header and the MEWTOCOL-COM text behind it,
-- requests (station, command, memory area, addresses, data words, block
-- check code) and answers (positive with their data words, negative with the
-- error code and its meaning), answers in parts and the requests for their
-- next parts. Several frames in one TCP segment and one frame over several
-- segments are both handled (TCP reassembly).
--
-- Install: copy this file into ~/.local/lib/wireshark/plugins/ (or the
-- plugins folder that Help > About > Folders names), or load it for one run
-- with  tshark -X lua_script:etlan.lua ...
-- Port: preference "etlan.port" (default 9094, 0 for none); any other port
-- through Decode As (tshark: -d tcp.port==PORT,etlan), or found by the
-- heuristic "etlan_tcp" (a TCP stream whose data begin with an ET-LAN
-- frame: header, length and text checked strictly), which then keeps the
-- whole connection.
--
-- Requests and answers are paired per connection: a request that another
-- request follows without an answer between, or that the connection (or
-- the capture) ends behind, is marked with an expert item.
--
-- Malformed input never stops the dissection: what does not parse is marked
-- with an expert item of the "Malformed" group and the next frame follows.

local etlan = Proto("etlan", "ET-LAN MEWTOCOL-COM")

local DEFAULT_PORT = 9094
local HEADER_SIZE = 12
-- A longer announced text is no ET-LAN frame (a unit's answer buffer holds
-- 2048 characters); such a header is not waited for.
local MAX_TEXT = 4096
-- The shortest text: "%", the station, the block check code and the CR.
local MIN_TEXT = 6

-- The error codes of a negative answer and their meaning: the same list as
-- mewtocol/plc_errors.h (tests/dissector_test.sh compares them).
local plc_errors = {
    [21] = "NACK error",
    [22] = "WACK error",
    [23] = "unit number overlap",
    [24] = "transmission format error",
    [25] = "hardware error",
    [26] = "unit number setting error",
    [27] = "command not supported or text too long",
    [28] = "no response",
    [29] = "buffer closed",
    [30] = "time-out",
    [32] = "transmission impossible",
    [33] = "communication stopped",
    [36] = "no local unit",
    [38] = "other unit's hardware error",
    [40] = "block check code error",
    [41] = "format error",
    [42] = "command not supported",
    [43] = "multiple-frame procedure error",
    [50] = "link setting error",
    [51] = "transmission time-out",
    [52] = "transmission or reception error",
    [53] = "busy",
    [60] = "parameter error",
    [61] = "data error: address or value out of range",
    [62] = "registration error",
    [63] = "PLC mode error",
    [64] = "external memory error",
    [65] = "protect error",
    [66] = "address error",
    [67] = "missing data",
    [68] = "cannot be rewritten",
}

local KIND_COMMAND, KIND_NEXT_PART, KIND_POSITIVE, KIND_NEGATIVE, KIND_PART, KIND_OTHER = 1, 2, 3, 4, 5, 6
local kind_names = {
    [KIND_COMMAND] = "command",
    [KIND_NEXT_PART] = "next-part request",
    [KIND_POSITIVE] = "positive answer",
    [KIND_NEGATIVE] = "negative answer",
    [KIND_PART] = "further part of an answer",
    [KIND_OTHER] = "no MEWTOCOL-COM text",
}

local BCC_INVALID, BCC_VERIFIED, BCC_UNCHECKED = 0, 1, 2
local bcc_names = {
    [BCC_INVALID] = "invalid",
    [BCC_VERIFIED] = "verified",
    [BCC_UNCHECKED] = "not checked (**)",
}

local f = {
    type = ProtoField.uint8("etlan.type", "Frame type", base.HEX),
    reserved1 = ProtoField.uint8("etlan.reserved1", "Reserved", base.HEX),
    length = ProtoField.uint16("etlan.length", "Text length", base.DEC),
    reserved = ProtoField.bytes("etlan.reserved", "Reserved"),
    dst = ProtoField.uint8("etlan.dst", "Destination station", base.DEC),
    src = ProtoField.uint8("etlan.src", "Source station", base.DEC),
    text = ProtoField.string("etlan.text", "Text"),
    kind = ProtoField.uint8("etlan.kind", "Kind", base.DEC, kind_names),
    station = ProtoField.string("etlan.station", "Station"),
    command = ProtoField.string("etlan.command", "Command"),
    area = ProtoField.string("etlan.area", "Memory area"),
    index = ProtoField.string("etlan.index", "Index register"),
    start = ProtoField.uint32("etlan.start", "Start address", base.DEC),
    ["end"] = ProtoField.uint32("etlan.end", "End address", base.DEC),
    count = ProtoField.uint32("etlan.count", "Words", base.DEC),
    word_address = ProtoField.uint32("etlan.word_address", "Word address", base.DEC),
    bit = ProtoField.uint8("etlan.bit", "Bit", base.DEC),
    contact = ProtoField.uint8("etlan.contact", "Contact value", base.DEC),
    params = ProtoField.string("etlan.params", "Parameters"),
    data = ProtoField.string("etlan.data", "Data"),
    word = ProtoField.uint16("etlan.word", "Word", base.DEC),
    code = ProtoField.string("etlan.code", "Answer code"),
    error = ProtoField.uint8("etlan.error", "Error code", base.DEC, plc_errors),
    bcc = ProtoField.string("etlan.bcc", "Block check code"),
    bcc_status = ProtoField.uint8("etlan.bcc.status", "Block check code status", base.DEC, bcc_names),
    bcc_expected = ProtoField.string("etlan.bcc.expected", "Expected block check code"),
    more = ProtoField.bool("etlan.more", "More parts follow"),
    part = ProtoField.uint16("etlan.part", "Part", base.DEC),
    asks_part = ProtoField.uint16("etlan.asks_part", "Asks for part", base.DEC),
    request_in = ProtoField.framenum("etlan.request_in", "Command in frame", base.NONE,
                                     frametype and frametype.REQUEST),
    answer_in = ProtoField.framenum("etlan.answer_in", "Answer in frame", base.NONE,
                                    frametype and frametype.RESPONSE),
    time = ProtoField.relative_time("etlan.time", "Time since the command"),
    unanswered_in = ProtoField.framenum("etlan.unanswered_in", "Unanswered request in frame",
                                        base.NONE),
}
etlan.fields = {
    f.type, f.reserved1, f.length, f.reserved, f.dst, f.src, f.text, f.kind, f.station,
    f.command, f.area, f.index, f.start, f["end"], f.count, f.word_address, f.bit, f.contact,
    f.params, f.data, f.word, f.code, f.error, f.bcc, f.bcc_status, f.bcc_expected, f.more,
    f.part, f.asks_part, f.request_in, f.answer_in, f.time, f.unanswered_in,
}

local ef = {
    malformed = ProtoExpert.new("etlan.malformed", "Malformed ET-LAN frame",
                                expert.group.MALFORMED, expert.severity.ERROR),
    stray = ProtoExpert.new("etlan.stray", "Bytes outside any ET-LAN frame",
                            expert.group.MALFORMED, expert.severity.ERROR),
    bad_bcc = ProtoExpert.new("etlan.bcc.bad", "Wrong block check code",
                              expert.group.CHECKSUM, expert.severity.ERROR),
    negative = ProtoExpert.new("etlan.negative", "Negative answer",
                               expert.group.RESPONSE_CODE, expert.severity.WARN),
    sequence = ProtoExpert.new("etlan.sequence", "Out of sequence",
                               expert.group.SEQUENCE, expert.severity.WARN),
    unknown = ProtoExpert.new("etlan.unknown_command", "Command unknown to this dissector",
                              expert.group.UNDECODED, expert.severity.NOTE),
    unanswered = ProtoExpert.new("etlan.unanswered", "Request without an answer",
                                 expert.group.SEQUENCE, expert.severity.WARN),
    after_unanswered = ProtoExpert.new("etlan.after_unanswered", "Request after one without an answer",
                                       expert.group.SEQUENCE, expert.severity.WARN),
}
etlan.experts = { ef.malformed, ef.stray, ef.bad_bcc, ef.negative, ef.sequence, ef.unknown,
                  ef.unanswered, ef.after_unanswered }

etlan.prefs.port = Pref.uint("TCP port", DEFAULT_PORT,
                             "TCP port of the ET-LAN units (0: none; other ports through Decode As or the heuristic)")

local tcp_port_table = DissectorTable.get("tcp.port")
local registered_port = 0

local function register_port(port)
    if registered_port ~= 0 then tcp_port_table:remove(registered_port, etlan) end
    registered_port = port
    if port ~= 0 then tcp_port_table:add(port, etlan) end
end

function etlan.prefs_changed()
    if etlan.prefs.port ~= registered_port then register_port(etlan.prefs.port) end
end

-- Memory areas: the name a word address is written with, and what the area
-- holds.
local contact_areas = {
    X = { "WX", "external input relay, words WX" },
    Y = { "WY", "external output relay, words WY" },
    R = { "WR", "internal relay, words WR" },
    L = { "WL", "link relay, words WL" },
    T = { "T word ", "timer contact" },
    C = { "C word ", "counter contact" },
}
-- The relays, whose contacts are named by word number and bit digit (R13:
-- word 1, bit 3).
local relay_areas = { X = true, Y = true, R = true, L = true }
local data_areas = {
    D = { "DT", "data register DT" },
    L = { "LD", "link data register LD" },
    F = { "FL", "file register FL" },
}

-- What each answer code answers.
local answer_of = {
    RCC = "RC", RCS = "RC", WCC = "WC", WCS = "WC", RD = "RD", RDI = "RD", WD = "WD",
    WDI = "WD", RS = "RS", WS = "WS", RK = "RK", WK = "WK",
}

-- Per TCP stream: the requests that wait for their answers, oldest first
-- (a station answers in order), the command whose answer is coming in
-- parts and how far it has come, and the station's port once a frame has
-- told it. Per frame, what that state was when the frame was first seen
-- and the direction it was given, so that a frame reads the same on every
-- later pass.
local streams = {}
local seen = {}
local directions = {}
local tcp_stream_field = Field.new("tcp.stream")

function etlan.init()
    streams = {}
    seen = {}
    directions = {}
end

local function stream_state(id)
    local st = streams[id]
    if st == nil then
        st = { part = 0, pending = {} }
        streams[id] = st
    end
    return st
end

-- A request's first look: the requests still waiting from earlier segments
-- get no answer any more (the host has moved on; requests of one segment
-- are answered one after the other); this one waits from now on. ctx.follows
-- lists the ones it leaves unanswered.
local function request_seen(st, ctx, entry, pinfo)
    local waiting = {}
    for _, p in ipairs(st.pending) do
        if p.frame < pinfo.number then
            p.next_request, p.waited = pinfo.number, pinfo.abs_ts - p.time
            ctx.follows = ctx.follows or {}
            ctx.follows[#ctx.follows + 1] = p
        else
            waiting[#waiting + 1] = p
        end
    end
    entry.frame, entry.time = pinfo.number, pinfo.abs_ts
    waiting[#waiting + 1] = entry
    st.pending = waiting
    ctx.own = entry
end

-- An answer's first look: it answers the oldest waiting request (nil when
-- none waits).
local function answer_seen(st, pinfo)
    local p = table.remove(st.pending, 1)
    if p ~= nil then p.answer_frame = pinfo.number end
    return p
end

local function is_hex(s) return s ~= "" and s:match("^[0-9A-Fa-f]+$") ~= nil end
local function is_dec(s) return s ~= "" and s:match("^[0-9]+$") ~= nil end

-- XOR of the characters (without a bit library: the Lua version differs
-- between Wireshark releases).
local function bcc_of(s)
    local x = 0
    for i = 1, #s do
        local a, b, r, v = x, s:byte(i), 0, 1
        while a > 0 or b > 0 do
            if a % 2 ~= b % 2 then r = r + v end
            a, b, v = math.floor(a / 2), math.floor(b / 2), v * 2
        end
        x = r
    end
    return x
end

-- Four characters, the low byte's two digits first, to a word.
local function word_value(chars)
    return tonumber(chars:sub(3, 4) .. chars:sub(1, 2), 16)
end

local function word_label(prefix, address)
    if prefix == nil or address == nil then return "" end
    return prefix .. tostring(address) .. ": "
end

-- The values of a write for the Info column: the words (the first eight
-- of a longer write), a word with its top bit set also signed, two words
-- of registers or relays (not the set or elapsed values of two timers)
-- also as the 32-bit value they form (the lower address the low word),
-- signed.
local function written_values(data, words, pairs_form_32)
    local values = {}
    for i = 1, math.min(words, 8) do values[i] = tostring(word_value(data:sub(4 * i - 3, 4 * i))) end
    local s = table.concat(values, ", ")
    if words > 8 then s = s .. string.format(", ... (%d words)", words) end
    if words == 1 then
        local v = word_value(data)
        if v >= 0x8000 then s = s .. string.format(" (signed %d)", v - 0x10000) end
    elseif words == 2 and pairs_form_32 then
        local v = word_value(data:sub(1, 4)) + word_value(data:sub(5, 8)) * 0x10000
        if v >= 0x80000000 then v = v - 0x100000000 end
        s = s .. string.format(" (32-bit %d)", v)
    end
    return s
end

-- The contacts of a relay word that are on: R13 R15, or "none on".
local function contacts_on(contacts, value)
    local on = {}
    for bit = 0, 15 do
        if math.floor(value / 2 ^ bit) % 2 == 1 then
            on[#on + 1] = string.format("%s%d%X", contacts[1], contacts[2], bit)
        end
    end
    if #on == 0 then return "none on" end
    return table.concat(on, " ") .. " on"
end

-- One dissection of a text: the tree it fills and the range the text
-- occupies (character i of the text is at offset i - 1 of the range).
local Text = {}
Text.__index = Text

-- Never past the buffer's end: a short text gets the part that is there.
function Text:range(first, count)
    local len = self.tvb:len()
    local at = self.offset + first - 1
    if at > len - 1 then at, count = len - 1, 0 end
    if count > len - at then count = len - at end
    if count < 0 then count = 0 end
    return self.tvb(at, count)
end

function Text:malformed(item, message)
    (item or self.tree):add_proto_expert_info(ef.malformed, message)
    self.bad = true
end

-- Adds the data words of chars (at position pos of the text): a write's
-- data or an answer's. carry holds the characters of a word begun in the
-- previous part; returns the characters left over and the next address.
function Text:add_words(chars, pos, carry, prefix, address, pending_ok)
    if chars == "" and carry == "" then return "", address end
    local item = self.tree:add(f.data, self:range(pos, #chars), chars)
    if chars ~= "" and not is_hex(chars) then
        self:malformed(item, "data that are not hexadecimal")
        return "", address
    end
    local words = 0
    local at = 1 - #carry
    local all = carry .. chars
    local i = 1
    while i + 3 <= #all do
        local w = word_value(all:sub(i, i + 3))
        local first = math.max(at + i - 1, 1)
        local last = at + i + 2
        local sub = item:add(f.word, self:range(pos + first - 1, last - first + 1), w)
        sub:set_text(string.format("Word %s%d (0x%04X)%s", word_label(prefix, address), w, w,
                                   first > at + i - 1 and " (begins in the previous part)" or ""))
        if address ~= nil then address = address + 1 end
        words = words + 1
        i = i + 4
    end
    local left = all:sub(i)
    item:append_text(string.format(" (%d word%s)", words, words == 1 and "" or "s"))
    if left ~= "" then
        if pending_ok then
            item:append_text(string.format(", %d character%s continued in the next part",
                                           #left, #left == 1 and "" or "s"))
        else
            self:malformed(item, string.format("data end in the middle of a word (%d characters left)", #left))
            left = ""
        end
    end
    return left, address
end

-- The fields of a command (the text from after '#' to before the BCC;
-- pos is where it starts in the text). Returns what the answer needs: the
-- command, the address prefix and the start address.
function Text:command(body, pos)
    local function field(field_, first, count, value)
        return self.tree:add(field_, self:range(pos + first - 1, count), value)
    end
    local three, two = body:sub(1, 3), body:sub(1, 2)
    local code, kind
    if three == "RCC" or three == "WCC" or three == "RCS" or three == "WCS" or three == "RDI" or
        three == "WDI" then
        code = three
    elseif (two == "RD" or two == "WD") and data_areas[body:sub(3, 3)] ~= nil then
        code = two
    elseif two == "RS" or two == "WS" or two == "RK" or two == "WK" then
        code = two
    else
        local item = field(f.command, 1, math.min(2, #body), two)
        item:add_proto_expert_info(ef.unknown, "command " .. two .. " is not decoded")
        if #body > 2 then field(f.params, 3, #body - 2, body:sub(3)) end
        return { code = two, summary = two .. " (unknown command)" }
    end
    local read = code:sub(1, 1) == "R"
    local cmd = field(f.command, 1, #code, code)
    local req = { code = code }
    local prefix, rest, widths, relay
    if code == "RCS" or code == "WCS" then
        cmd:append_text(read and " (read one contact)" or " (write one contact)")
    else
        cmd:append_text(read and " (read)" or " (write)")
    end
    if code:sub(2, 3) == "CC" or code:sub(2, 3) == "CS" then
        local area = body:sub(4, 4)
        local a = contact_areas[area]
        if a == nil then
            self:malformed(field(f.area, 4, #area, area), "no contact area")
            return req
        end
        field(f.area, 4, 1, area):append_text(", " .. a[2])
        prefix, rest, widths = a[1], 5, { 4, 4 }
        if relay_areas[area] then relay = area end
        if code:sub(2, 3) == "CS" then
            local want = read and 8 or 9
            if #body ~= want then
                self:malformed(nil, string.format("%s takes %d characters here, the text has %d", code, want, #body))
                return req
            end
            local word, bitc = body:sub(5, 7), body:sub(8, 8)
            if not is_dec(word) or not is_hex(bitc) then
                self:malformed(nil, "a contact address that is not a word number and a bit")
                return req
            end
            field(f.word_address, 5, 3, tonumber(word))
            field(f.bit, 8, 1, tonumber(bitc, 16))
            req.single = true
            -- The contact's own name: area, word number, bit digit (R107).
            req.summary = string.format("%s %s%d%s (%s%d bit %d)", code, area, tonumber(word),
                                        bitc:upper(), a[1], tonumber(word), tonumber(bitc, 16))
            if not read then
                local v = body:sub(9, 9)
                if v ~= "0" and v ~= "1" then
                    self:malformed(field(f.params, 9, 1, v), "a contact value other than 0 or 1")
                else
                    field(f.contact, 9, 1, tonumber(v))
                    req.summary = req.summary .. " := " .. v
                end
            end
            return req
        end
    elseif code == "RDI" or code == "WDI" then
        local reg = body:sub(4, 4)
        if not reg:match("^[XY0-9A-F]$") then
            self:malformed(field(f.index, 4, #reg, reg), "no index register")
            return req
        end
        field(f.index, 4, 1, reg):append_text(", I" .. reg)
        -- The end field has 4 or 5 digits; a write's data come in fours.
        local left = #body - 4 - 5
        local endw = 4
        if (read and left == 5) or (not read and left % 4 == 1) then endw = 5 end
        prefix, rest, widths = "I" .. reg .. " word ", 5, { 5, endw }
    elseif code == "RD" or code == "WD" then
        local area = body:sub(3, 3)
        local a = data_areas[area]
        field(f.area, 3, 1, area):append_text(", " .. a[2])
        prefix, rest, widths = a[1], 4, { 5, 5 }
    else
        prefix, rest, widths = code:sub(2, 2) == "S" and "SV" or "EV", 3, { 4, 4 }
    end
    local sw, ew = widths[1], widths[2]
    local s, e = body:sub(rest, rest + sw - 1), body:sub(rest + sw, rest + sw + ew - 1)
    if #s < sw or not is_dec(s) or #e < ew or not is_dec(e) then
        self:malformed(nil, string.format("start and end address must be %d and %d digits", sw, ew))
        return req
    end
    local first, last = tonumber(s), tonumber(e)
    field(f.start, rest, sw, first)
    field(f["end"], rest + sw, ew, last)
    local words = last - first + 1
    local count = field(f.count, rest, sw + ew, words > 0 and words or 0)
    count:set_generated()
    if words <= 0 then
        count:add_proto_expert_info(ef.malformed, "the start address is above the end address")
        self.bad = true
    end
    req.prefix, req.start = prefix, first
    if first == last then
        req.summary = string.format("%s %s%d", code, prefix, first)
    else
        req.summary = string.format("%s %s%d-%s%d", code, prefix, first, prefix, last)
    end
    -- A bit read reads the contact's whole word: named by its contacts.
    if read and relay ~= nil and first == last then
        req.summary = string.format("%s %s%d0-%s%dF (%s%d)", code, relay, first, relay, first, prefix, first)
        req.contacts = { relay, first }
    end
    local data_pos = rest + sw + ew
    local data = body:sub(data_pos)
    if read then
        if data ~= "" then self:malformed(nil, "a read with data behind its addresses") end
    else
        if words > 0 and #data ~= 4 * words then
            self:malformed(nil, string.format("%d words need %d data characters, the text has %d",
                                              words, 4 * words, #data))
        end
        self:add_words(data, data_pos, "", prefix, first, false)
        if words > 0 and #data == 4 * words and is_hex(data) then
            req.summary = req.summary .. " := " .. written_values(data, words, code ~= "WS" and code ~= "WK")
        end
    end
    return req
end

-- Dissects the text of one frame. dir: "request", "answer" or nil when the
-- port does not tell. Returns a summary for the Info column.
local function dissect_text(tvb, offset, s, pinfo, tree, dir, key, stream_id)
    local t = setmetatable({ tvb = tvb, offset = offset, tree = tree, bad = false }, Text)
    if #s == 0 then
        t:malformed(tree, "an empty text")
        return "empty text"
    end
    local text_item = tree:add(f.text, tvb(offset, #s), (s:gsub("\r", "\\r")))
    local cr = s:find("\r", 1, true)
    local body = s
    if cr == nil then
        t:malformed(text_item, "the text does not end in CR")
    else
        if cr ~= #s then t:malformed(text_item, "bytes behind the CR that ends the text") end
        body = s:sub(1, cr - 1)
    end
    local start_char = body:sub(1, 1)
    if (start_char ~= "%" and start_char ~= "<") or #body < 3 then
        t:malformed(text_item, "the text does not start with % (or <) and a station number")
        tree:add(f.kind, tvb(offset, 0), KIND_OTHER):set_generated()
        return "not MEWTOCOL-COM"
    end
    tree:add(f.station, t:range(2, 2), body:sub(2, 3))
    local more = body:sub(-1) == "&"
    local core = more and body:sub(1, -2) or body
    local mark = core:sub(4, 4)
    local kind
    if mark == "#" then
        kind = KIND_COMMAND
    elseif #body == 6 and more and dir ~= "answer" then
        kind = KIND_NEXT_PART
    elseif mark == "$" then
        kind = KIND_POSITIVE
    elseif mark == "!" then
        kind = KIND_NEGATIVE
    elseif dir ~= "request" then
        kind = KIND_PART
    else
        tree:add(f.kind, tvb(offset, 0), KIND_OTHER):set_generated()
        t:malformed(text_item, "a request that is neither a command nor a next-part request")
        return "malformed request"
    end
    tree:add(f.kind, t:range(4, 1), kind):set_generated()
    -- A next-part request ends in '&' by its form; elsewhere '&' says a
    -- further part follows.
    if more and kind ~= KIND_NEXT_PART then tree:add(f.more, t:range(#body, 1), true) end

    -- What this frame continues: taken from the stream on the first look,
    -- kept for every later one; a request joins the waiting ones, an answer
    -- takes the oldest.
    local st = stream_state(stream_id)
    local ctx = seen[key]
    local first_look = ctx == nil
    local request = kind == KIND_COMMAND or kind == KIND_NEXT_PART
    if first_look then
        ctx = { req = st.req, part = st.part, more = st.more, carry = st.carry or "", address = st.address }
        seen[key] = ctx
        if request then
            request_seen(st, ctx, { next_part = kind == KIND_NEXT_PART }, pinfo)
        else
            ctx.answered = answer_seen(st, pinfo)
        end
    end

    -- A request names its answer's frame once that has been seen (a second
    -- pass, as Wireshark's display makes; tshark -2), or says that none
    -- came; it names the requests before it that got no answer.
    local function pairing()
        local own = ctx.own
        if own == nil then return end
        if own.answer_frame ~= nil then
            tree:add(f.answer_in, t:range(1, 0), own.answer_frame):set_generated()
        elseif own.next_request ~= nil then
            tree:add_proto_expert_info(ef.unanswered, string.format(
                "no answer to this request before the next one in frame %d, %.3f s later",
                own.next_request, own.waited))
        elseif not first_look then
            tree:add_proto_expert_info(ef.unanswered,
                                       "no answer to this request before the connection or the capture ends")
        end
        for _, p in ipairs(ctx.follows or {}) do
            local item = tree:add(f.unanswered_in, t:range(1, 0), p.frame)
            item:set_generated()
            item:add_proto_expert_info(ef.after_unanswered, string.format(
                "the request in frame %d got no answer in %.3f s", p.frame, p.waited))
        end
    end

    -- The block check code: the two characters before the CR (or before '&').
    local minimum = (kind == KIND_COMMAND) and 6 or (kind == KIND_PART or kind == KIND_NEXT_PART) and 5 or 8
    if #core < minimum then
        t:malformed(text_item, "a text too short for its kind")
        if request then pairing() end
        return kind_names[kind] .. " (too short)"
    end

    -- An answer (or its part) points to its request, with the time since.
    local function link_request(r)
        if r == nil or r.frame == nil then return end
        tree:add(f.request_in, t:range(1, 0), r.frame):set_generated()
        -- to whole microseconds, the resolution of a capture's time stamps
        local us = math.floor((pinfo.abs_ts - r.time) * 1e6 + 0.5)
        if us < 0 then us = 0 end
        local secs = math.floor(us / 1e6)
        tree:add(f.time, t:range(1, 0), NSTime.new(secs, (us - secs * 1e6) * 1000)):set_generated()
    end

    local summary
    if kind == KIND_COMMAND then
        local req = t:command(core:sub(5, -3), 5)
        if first_look then
            for k, v in pairs(req) do ctx.own[k] = v end
            st.req, st.part, st.more, st.carry, st.address = nil, 0, false, "", nil
        end
        pairing()
        summary = "command " .. (req.summary or req.code or "?")
    elseif kind == KIND_NEXT_PART then
        if ctx.more then
            local asks = ctx.part + 1
            tree:add(f.asks_part, t:range(4, 2), asks):set_generated()
            summary = string.format("next-part request (part %d)", asks)
        else
            tree:add_proto_expert_info(ef.sequence, "a next-part request with no answer in parts pending")
            summary = "next-part request (nothing pending)"
        end
        pairing()
    elseif kind == KIND_NEGATIVE then
        local code = core:sub(5, -3)
        if #code ~= 2 or not is_dec(code) then
            t:malformed(text_item, "an error code that is not two decimal digits")
            summary = "negative answer (malformed)"
        else
            local n = tonumber(code)
            local item = tree:add(f.error, t:range(5, 2), n)
            local meaning = plc_errors[n] or "unknown error"
            item:add_proto_expert_info(ef.negative, string.format("error %02d: %s", n, meaning))
            summary = string.format("negative answer %02d (%s)", n, meaning)
        end
        if more then t:malformed(text_item, "a negative answer in parts") end
        link_request(ctx.answered)
        if first_look then st.req, st.part, st.more = nil, 0, false end
    else
        local req, carry, address, part, data, data_pos
        if kind == KIND_POSITIVE then
            local code = core:sub(5, 6)
            local code_item = tree:add(f.code, t:range(5, 2), code)
            req = ctx.answered
            if req ~= nil and req.next_part then req = nil end
            if req ~= nil and answer_of[req.code] ~= nil and answer_of[req.code] ~= code then
                code_item:add_proto_expert_info(ef.sequence, "the answer code " .. code ..
                                                " does not answer the command " .. req.code)
                req = nil
            end
            data_pos = 7
            data = core:sub(7, -3)
            carry, address, part = "", req and req.start, more and 1 or nil
            summary = "positive answer " .. code
        else
            req, carry, address = ctx.req, ctx.carry, ctx.address
            part = ctx.part + 1
            data_pos = 4
            data = core:sub(4, -3)
            if not ctx.more then
                tree:add_proto_expert_info(ef.sequence, "a further part without an answer in parts pending")
            end
            summary = "answer"
        end
        link_request(req)
        if part ~= nil then
            tree:add(f.part, t:range(1, 0), part):set_generated()
            summary = summary .. string.format(" part %d%s", part, more and " (more follow)" or " (last)")
        end
        local left
        if req ~= nil and req.single then
            if data ~= "0" and data ~= "1" and data ~= "" then
                t:malformed(nil, "a contact value other than 0 or 1")
            elseif data ~= "" then
                tree:add(f.contact, t:range(data_pos, 1), tonumber(data))
                summary = summary .. " contact " .. data
            end
            left = ""
        else
            local prefix = req and req.prefix
            left, address = t:add_words(data, data_pos, carry, prefix, address, more)
            local words = math.floor((#carry + #data) / 4)
            if words > 0 then summary = summary .. string.format(" %d word%s", words, words == 1 and "" or "s") end
            -- The contacts that are on in a word of relays read alone.
            if req ~= nil and req.contacts ~= nil and kind == KIND_POSITIVE and not more and #data == 4 and
                is_hex(data) then
                summary = summary .. " (" .. contacts_on(req.contacts, word_value(data)) .. ")"
            end
        end
        if first_look then
            st.part = part or 0
            st.more = more
            st.carry = left
            st.address = address
            if kind == KIND_POSITIVE then st.req = req end
        end
    end
    -- The block check code last: the two characters before the CR (or '&').
    local bcc = core:sub(-2)
    local bcc_item = tree:add(f.bcc, t:range(#core - 1, 2), bcc)
    local expected = string.format("%02X", bcc_of(core:sub(1, -3)))
    if bcc == "**" then
        bcc_item:add(f.bcc_status, t:range(#core - 1, 2), BCC_UNCHECKED):set_generated()
    elseif bcc:upper() == expected then
        bcc_item:add(f.bcc_status, t:range(#core - 1, 2), BCC_VERIFIED):set_generated()
        bcc_item:append_text(" [verified]")
    else
        bcc_item:add(f.bcc_status, t:range(#core - 1, 2), BCC_INVALID):set_generated()
        bcc_item:add(f.bcc_expected, t:range(#core - 1, 2), expected):set_generated()
        bcc_item:append_text(" [invalid, expected " .. expected .. "]")
        bcc_item:add_proto_expert_info(ef.bad_bcc, "wrong block check code " .. bcc .. ", expected " .. expected)
        summary = summary .. " [wrong BCC]"
    end
    if t.bad then summary = summary .. " [malformed]" end
    return string.format("%s %s", body:sub(2, 3), summary)
end

-- Dissects one frame (header and text) at offset; avail bytes of it are in
-- the buffer. Returns the Info summary.
local function dissect_frame(tvb, offset, avail, pinfo, tree, dir, key, stream_id)
    local item = tree:add(etlan, tvb(offset, avail))
    local header = item:add(etlan, tvb(offset, math.min(avail, HEADER_SIZE)), "ET-LAN header")
    if avail < HEADER_SIZE then
        header:add_proto_expert_info(ef.malformed, string.format("a header of %d bytes (12 expected)", avail))
        item:append_text(", truncated header")
        return "truncated ET-LAN header"
    end
    header:add(f.type, tvb(offset, 1))
    local r1 = header:add(f.reserved1, tvb(offset + 1, 1))
    if tvb(offset + 1, 1):uint() ~= 0 then
        r1:add_proto_expert_info(ef.malformed, "byte 1 of the header is not 0")
    end
    local length = tvb(offset + 2, 2):le_uint()
    local length_item = header:add_le(f.length, tvb(offset + 2, 2))
    local res = header:add(f.reserved, tvb(offset + 4, 6))
    if tvb(offset + 4, 6):bytes():tohex() ~= "000000000000" then
        res:add_proto_expert_info(ef.malformed, "bytes 4 to 9 of the header are not 0")
    end
    header:add(f.dst, tvb(offset + 10, 1))
    header:add(f.src, tvb(offset + 11, 1))
    local present = avail - HEADER_SIZE
    if present ~= length then
        length_item:add_proto_expert_info(ef.malformed, string.format(
            "the header announces %d text bytes, the frame holds %d", length, present))
    end
    local s = present > 0 and tvb:raw(offset + HEADER_SIZE, present) or ""
    local summary = dissect_text(tvb, offset + HEADER_SIZE, s, pinfo, item, dir, key, stream_id)
    item:append_text(", " .. summary)
    return summary
end

-- The offset of the next byte 0x10 followed by 0x00 (or by the buffer's
-- end) from offset on; the buffer's length when there is none.
local function next_header(tvb, offset, total)
    for i = offset, total - 1 do
        if tvb(i, 1):uint() == 0x10 and (i + 1 >= total or tvb(i + 1, 1):uint() == 0) then return i end
    end
    return total
end

-- The direction of the frame at offset: toward the station's port a
-- request, from it an answer. That port is the one the dissector was
-- chosen by (preference, Decode As); otherwise the stream's first command
-- ('#' behind the station) or answer ('$' or '!') tells it. Kept per frame.
local function direction(tvb, offset, avail, pinfo, st, key)
    local d = directions[key]
    if d == nil then
        local port
        if pinfo.match_uint == pinfo.src_port or pinfo.match_uint == pinfo.dst_port then
            port = pinfo.match_uint
        else
            if st.station_port == nil and avail >= HEADER_SIZE + 4 then
                local mark = tvb(offset + HEADER_SIZE + 3, 1):uint()
                if mark == 0x23 then
                    st.station_port = pinfo.dst_port
                elseif mark == 0x24 or mark == 0x21 then
                    st.station_port = pinfo.src_port
                end
            end
            port = st.station_port
        end
        d = ""
        if port ~= nil and pinfo.src_port ~= pinfo.dst_port then
            if port == pinfo.dst_port then
                d = "request"
            elseif port == pinfo.src_port then
                d = "answer"
            end
        end
        directions[key] = d
    end
    if d == "" then return nil end
    return d
end

local function dissect(tvb, pinfo, tree)
    local total = tvb:len()
    if total == 0 then return 0 end
    pinfo.cols.protocol = etlan.name
    local stream_field = tcp_stream_field()
    local stream_id = stream_field and stream_field.value or -1
    local st = stream_state(stream_id)
    local infos = {}
    local offset = 0
    -- A frame's key: the packet and where the frame begins in it. A packet
    -- can be dissected twice, a reassembled frame and the rest of its own
    -- bytes: the two buffers begin at different places of the packet (the
    -- reassembled one at 0).
    local base_key = pinfo.number .. ":" .. tvb:offset() .. ":"
    while offset < total do
        local left = total - offset
        local key = base_key .. offset
        if tvb(offset, 1):uint() ~= 0x10 then
            local stop = next_header(tvb, offset + 1, total)
            local item = tree:add(etlan, tvb(offset, stop - offset))
            item:append_text(string.format(", %d bytes outside any frame", stop - offset))
            item:add_proto_expert_info(ef.stray, string.format("%d bytes outside any ET-LAN frame", stop - offset))
            infos[#infos + 1] = "bytes outside any frame"
            offset = stop
        elseif left < HEADER_SIZE then
            if pinfo.can_desegment > 0 then
                pinfo.desegment_offset = offset
                pinfo.desegment_len = DESEGMENT_ONE_MORE_SEGMENT
                break
            end
            infos[#infos + 1] = dissect_frame(tvb, offset, left, pinfo, tree,
                                              direction(tvb, offset, left, pinfo, st, key), key, stream_id)
            offset = total
        else
            local length = tvb(offset + 2, 2):le_uint()
            local size = HEADER_SIZE + length
            if left < size then
                if pinfo.can_desegment > 0 and length <= MAX_TEXT then
                    pinfo.desegment_offset = offset
                    pinfo.desegment_len = size - left
                    break
                end
                infos[#infos + 1] = dissect_frame(tvb, offset, left, pinfo, tree,
                                                  direction(tvb, offset, left, pinfo, st, key), key, stream_id)
                offset = total
            else
                infos[#infos + 1] = dissect_frame(tvb, offset, size, pinfo, tree,
                                                  direction(tvb, offset, size, pinfo, st, key), key, stream_id)
                offset = offset + size
            end
        end
    end
    if #infos > 0 then pinfo.cols.info = table.concat(infos, "; ") end
    return total
end
etlan.dissector = dissect

-- Whether the buffer begins with an ET-LAN frame, checked strictly enough
-- that other TCP traffic is left alone: bytes 0 and 1 0x10 0x00, bytes 4 to
-- 9 zero, a text length a frame can have; when the text has begun, "%" or
-- "<" and a station of two hexadecimal digits, printable characters up to
-- the CR that ends the announced length, and behind the frame nothing or
-- the next header. A header alone is enough (a host may send the text
-- after it); the frame is then reassembled and checked again whole.
local function begins_frame(tvb)
    local total = tvb:len()
    if total < HEADER_SIZE then return false end
    if tvb(0, 1):uint() ~= 0x10 or tvb(1, 1):uint() ~= 0 then return false end
    for i = 4, 9 do
        if tvb(i, 1):uint() ~= 0 then return false end
    end
    local length = tvb(2, 2):le_uint()
    if length < MIN_TEXT or length > MAX_TEXT then return false end
    local present = math.min(length, total - HEADER_SIZE)
    if present == 0 then return true end
    local text = tvb:raw(HEADER_SIZE, present)
    local complete = present == length
    if not text:match("^[%%<]") then return false end
    if not text:sub(2, 3):match("^%x*$") then return false end
    local body = complete and text:sub(1, -2) or text
    if body:find("[^\32-\126]") then return false end
    if complete and text:sub(-1) ~= "\r" then return false end
    local behind = HEADER_SIZE + length
    if total > behind then
        if tvb(behind, 1):uint() ~= 0x10 then return false end
        if total > behind + 1 and tvb(behind + 1, 1):uint() ~= 0 then return false end
    end
    return true
end

local function heuristic(tvb, pinfo, tree)
    if not begins_frame(tvb) then return false end
    -- Once a whole frame has passed, the connection is ET-LAN: its further
    -- segments, frames cut across them and stray bytes go to the dissector
    -- without this check.
    if tvb:len() >= HEADER_SIZE + tvb(2, 2):le_uint() then pinfo.conversation = etlan end
    -- Called directly: through its handle (etlan.dissector) the dissector
    -- could no longer ask TCP for the rest of a frame.
    dissect(tvb, pinfo, tree)
    return true
end

register_port(DEFAULT_PORT)
tcp_port_table:add_for_decode_as(etlan)
etlan:register_heuristic("tcp", heuristic)
