-- KorvaConfig bus packets in Wireshark and tshark: the pcapng files that "Save Capture..." writes
-- carry one packet per block on the user link type 147 (DLT_USER0), as the line carries it:
-- destination, source, code, length, checksum, then up to four data bytes.
--
-- Device and property names come from a names table (see below), when there is one:
--   return { devices = { [34] = "FeedPump" }, properties = { [34] = { [16] = "SpeedSetpoint" } } }

local korva = Proto("korva", "KorvaConfig bus")

-- Lua 5.2, which Wireshark embeds, has no bit operators of its own.
local band = (bit32 and bit32.band) or bit.band

local classes = { [0x88] = "read", [0x78] = "write", [0xE8] = "boot", [0x58] = "close" }
-- A field under a bit mask shows its value shifted down past the mask's low zero bits.
local class_field = {}
for code, name in pairs(classes) do class_field[code / 8] = name end

local f = korva.fields
f.dest = ProtoField.uint8("korva.dest", "Destination", base.DEC)
f.source = ProtoField.uint8("korva.source", "Source", base.DEC)
f.code = ProtoField.uint8("korva.code", "Code", base.HEX)
f.class = ProtoField.uint8("korva.class", "Class", base.HEX, class_field, 0xF8)
f.refused = ProtoField.bool("korva.refused", "Refused", 8, nil, 0x04)
f.ack = ProtoField.bool("korva.ack", "Acknowledge", 8, nil, 0x02)
f.expects = ProtoField.bool("korva.expects_reply", "Expects a reply", 8, nil, 0x01)
f.kind = ProtoField.string("korva.kind", "Kind")
f.length = ProtoField.uint8("korva.length", "Length", base.DEC)
f.checksum = ProtoField.uint8("korva.checksum", "Checksum", base.HEX)
f.checksum_ok = ProtoField.bool("korva.checksum_ok", "Checksum right")
f.data = ProtoField.bytes("korva.data", "Data")
f.device = ProtoField.string("korva.device", "Device")
f.property = ProtoField.string("korva.property", "Property")

local bad_checksum = ProtoExpert.new("korva.checksum.bad", "Bad checksum", expert.group.CHECKSUM,
    expert.severity.ERROR)
local too_short = ProtoExpert.new("korva.short", "Shorter than a packet's header", expert.group.MALFORMED,
    expert.severity.ERROR)
korva.experts = { bad_checksum, too_short }

-- The names of a configuration, as korvarun --export-dissector-names writes them: the file the
-- protocol's preference names, else korva_names.lua in the personal configuration folder
-- (~/.config/wireshark), else beside this file. The file is parsed, never run: it holds a table of
-- numbers and strings and nothing else, so a names file can neither run code nor stall the analyzer.
korva.prefs.names = Pref.string("Names file", "",
    "A names table written by korvarun --export-dissector-names; empty: korva_names.lua in the " ..
    "personal configuration folder or beside this dissector")

local names = { devices = {}, properties = {} }
local here = debug.getinfo(1, "S").source:match("^@(.*[/\\])") or ""
local most_bytes = 16 * 1024 * 1024

-- A Lua table constructor of names, numbers, strings and tables, after an optional "return";
-- nil for anything else.
local function parse_table_text(text)
    local at = 1
    local function skip()
        while true do
            local _, e = text:find("^%s+", at)
            if e then at = e + 1 end
            if text:sub(at, at + 1) ~= "--" then return end
            local nl = text:find("\n", at, true)
            at = nl and nl + 1 or #text + 1
        end
    end
    local function str()
        local out, i = {}, at + 1
        while i <= #text do
            local c = text:sub(i, i)
            if c == '"' then at = i + 1 return table.concat(out) end
            if c == "\\" then
                local d = text:match("^%d%d?%d?", i + 1)
                local n = text:sub(i + 1, i + 1)
                if d and tonumber(d) < 256 then
                    out[#out + 1] = string.char(tonumber(d))
                    i = i + 1 + #d
                elseif n == '"' or n == "\\" then
                    out[#out + 1] = n
                    i = i + 2
                else
                    return nil
                end
            elseif c == "\n" then
                return nil
            else
                out[#out + 1] = c
                i = i + 1
            end
        end
        return nil
    end
    local value
    local function tbl(depth)
        if depth > 4 then return nil end
        at = at + 1
        local t = {}
        while true do
            skip()
            local c = text:sub(at, at)
            if c == "}" then at = at + 1 return t end
            local key
            if c == "[" then
                local d, e = text:match("^%[%s*(%d+)%s*%]()", at)
                if not d then return nil end
                key, at = tonumber(d), e
            else
                local w, e = text:match("^([%a_][%w_]*)()", at)
                if not w then return nil end
                key, at = w, e
            end
            skip()
            if text:sub(at, at) ~= "=" then return nil end
            at = at + 1
            skip()
            local v = value(depth)
            if v == nil then return nil end
            t[key] = v
            skip()
            c = text:sub(at, at)
            if c == "," or c == ";" then at = at + 1 elseif c ~= "}" then return nil end
        end
    end
    value = function(depth)
        local c = text:sub(at, at)
        if c == '"' then return str() end
        if c == "{" then return tbl(depth + 1) end
        local d, e = text:match("^(%d+)()", at)
        if d then at = e return tonumber(d) end
        return nil
    end
    skip()
    if text:sub(at, at + 5) == "return" then at = at + 6 skip() end
    if text:sub(at, at) ~= "{" then return nil end
    local t = tbl(0)
    skip()
    if at <= #text then return nil end
    return t
end

-- Only addresses and codes from 0 to 255 with names that are strings are kept.
local function byte_names(t)
    local out = {}
    if type(t) ~= "table" then return out end
    for k, v in pairs(t) do
        if type(k) == "number" and k >= 0 and k <= 255 and type(v) == "string" then out[k] = v end
    end
    return out
end

local function read_names(path)
    local file = io.open(path, "rb")
    if not file then return nil end
    local text = file:read(most_bytes + 1)
    file:close()
    if not text or #text > most_bytes then return nil end
    local t = parse_table_text(text)
    if type(t) ~= "table" then return nil end
    local got = { devices = byte_names(t.devices), properties = {} }
    if type(t.properties) == "table" then
        for address, codes in pairs(t.properties) do
            if type(address) == "number" and address >= 0 and address <= 255 then
                got.properties[address] = byte_names(codes)
            end
        end
    end
    return got
end

local function load_names()
    local places = {}
    if korva.prefs.names ~= "" then places[#places + 1] = korva.prefs.names end
    local ok, personal = pcall(Dir.personal_config_path, "korva_names.lua")
    if ok and personal then places[#places + 1] = personal end
    places[#places + 1] = here .. "korva_names.lua"
    names = { devices = {}, properties = {} }
    for _, path in ipairs(places) do
        local loaded = read_names(path)
        if loaded then
            names = loaded
            return
        end
    end
end
load_names()
korva.prefs_changed = load_names

-- What the packet is, in the words of the program's trace.
local function kind_of(dest, code)
    local class = band(code, 0xF8)
    if dest == 6 then return "broadcast" end
    if class == 0xE8 then return "boot loader" end
    if band(code, 0x02) ~= 0 then
        if class == 0x88 then return "read reply" end
        if class == 0x78 then return "write reply" end
        return "acknowledgement"
    end
    if band(code, 0x04) ~= 0 then return "refusal" end
    if class == 0x88 then return "read request" end
    if class == 0x78 then return "write request" end
    if class == 0x58 then return "close request" end
    return string.format("request of class %02X", class)
end

-- An address with the name of its device, when the names know one: "50 Doser".
local function who(address)
    local name = names.devices[address]
    return name and string.format("%d %s", address, name) or tostring(address)
end

function korva.dissector(buffer, pinfo, tree)
    pinfo.cols.protocol = "KORVA"
    if buffer:len() < 5 then
        local short = tree:add(korva, buffer(), "KorvaConfig bus, too short")
        short:add_proto_expert_info(too_short)
        pinfo.cols.info = string.format("too short: %d of the 5 header bytes", buffer:len())
        return buffer:len()
    end
    local dest, source = buffer(0, 1):uint(), buffer(1, 1):uint()
    local code, length = buffer(2, 1):uint(), buffer(3, 1):uint()
    local stored = buffer(4, 1):uint()
    -- A packet carries at most four data bytes, whatever its length byte says.
    local present = math.min(length, 4, buffer:len() - 5)
    -- The checksum stands before the data: the sum of the four header bytes and the data bytes;
    -- a length above 4 never passes.
    local sum = dest + source + code + length
    for i = 0, present - 1 do sum = sum + buffer(5 + i, 1):uint() end
    local ok = length <= 4 and present == length and (sum % 256) == stored

    local kind = (ok and "" or "CHECKSUM ERROR, ") .. kind_of(dest, code)
    local sub = tree:add(korva, buffer(0, 5 + present), "KorvaConfig bus, " .. kind)
    sub:add(f.dest, buffer(0, 1))
    sub:add(f.source, buffer(1, 1))
    local c = sub:add(f.code, buffer(2, 1))
    c:add(f.class, buffer(2, 1))
    c:add(f.refused, buffer(2, 1))
    c:add(f.ack, buffer(2, 1))
    c:add(f.expects, buffer(2, 1))
    sub:add(f.kind, kind)
    sub:add(f.length, buffer(3, 1))
    local ck = sub:add(f.checksum, buffer(4, 1))
    sub:add(f.checksum_ok, ok)
    if not ok then ck:add_proto_expert_info(bad_checksum) end
    if present > 0 then sub:add(f.data, buffer(5, present)) end

    -- A request names the device it goes to, a reply or refusal the one it comes from; in a read
    -- or write, the first data byte is the property's code.
    local device = band(code, 0x06) ~= 0 and source or dest
    local device_name = names.devices[device]
    if device_name then sub:add(f.device, device_name) end
    local class = band(code, 0xF8)
    local property_name = device_name and present > 0 and (class == 0x88 or class == 0x78) and
        names.properties[device] and names.properties[device][buffer(5, 1):uint()]
    if property_name then sub:add(f.property, property_name) end
    pinfo.cols.src = who(source)
    pinfo.cols.dst = who(dest)
    pinfo.cols.info = string.format("%s %d -> %d%s%s", kind, source, dest,
        device_name and (" " .. device_name) or "", property_name and ("." .. property_name) or "")
    return 5 + present
end

local encap = (wtap_encaps and wtap_encaps.USER0) or wtap.USER0
DissectorTable.get("wtap_encap"):add(encap, korva)
