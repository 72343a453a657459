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
korva.experts = { bad_checksum }

-- The names of a configuration, as korvarun --export-dissector-names writes them: the file the
-- protocol's preference names, else korva_names.lua in the personal Lua plugins folder, else beside
-- this file. The table is read as text in an empty environment: it can hold data, never run code.
korva.prefs.names = Pref.string("Names file", "",
    "A names table written by korvarun --export-dissector-names; empty: korva_names.lua in the " ..
    "personal Lua plugins folder or beside this dissector")

local names = { devices = {}, properties = {} }
local here = debug.getinfo(1, "S").source:match("^@(.*[/\\])") or ""

local function read_names(path)
    local file = io.open(path, "r")
    if not file then return nil end
    local text = file:read("*a")
    file:close()
    local chunk = text and load(text, "=" .. path, "t", {})
    if not chunk then return nil end
    local ok, loaded = pcall(chunk)
    if ok and type(loaded) == "table" then return loaded end
    return nil
end

local function load_names()
    local places = {}
    if korva.prefs.names ~= "" then places[#places + 1] = korva.prefs.names end
    local ok, personal = pcall(Dir.personal_plugins_path)
    if ok and personal then places[#places + 1] = personal .. "/korva_names.lua" end
    places[#places + 1] = here .. "korva_names.lua"
    names = { devices = {}, properties = {} }
    for _, path in ipairs(places) do
        local loaded = read_names(path)
        if loaded then
            names.devices = type(loaded.devices) == "table" and loaded.devices or {}
            names.properties = type(loaded.properties) == "table" and loaded.properties or {}
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

function korva.dissector(buffer, pinfo, tree)
    if buffer:len() < 5 then return 0 end
    pinfo.cols.protocol = "KORVA"
    local dest, source = buffer(0, 1):uint(), buffer(1, 1):uint()
    local code, length = buffer(2, 1):uint(), buffer(3, 1):uint()
    local stored = buffer(4, 1):uint()
    local present = math.min(length, buffer:len() - 5)
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
    local function who(address)
        local name = names.devices[address]
        return name and string.format("%d %s", address, name) or tostring(address)
    end
    pinfo.cols.src = who(source)
    pinfo.cols.dst = who(dest)
    pinfo.cols.info = string.format("%s %d -> %d%s%s", kind, source, dest,
        device_name and (" " .. device_name) or "", property_name and ("." .. property_name) or "")
    return 5 + present
end

local encap = (wtap_encaps and wtap_encaps.USER0) or wtap.USER0
DissectorTable.get("wtap_encap"):add(encap, korva)
