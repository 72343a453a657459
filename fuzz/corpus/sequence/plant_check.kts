; Standard checks of the demo plant.
; Statements end with a semicolon; text after it on the same line is a remark.
; Wait counts are in ticks of 10 ms.

displaytestnode "Open COM1";
  opencom 1;
  usermessage "COM1 is open. Use Plant Check to see that every device answers.";
endnode;

displaytestnode "Plant Check";
  get FeedPump.FirmwareVersion;
  get Boiler.FirmwareVersion;
  get ValveBlock.FirmwareVersion;
  get CoolingFan.FirmwareVersion;
  get Doser.FirmwareVersion;
  ; No device may report an active alarm.
  test FeedPump.AlarmFlags 0 0;
  test Boiler.AlarmFlags 0 0;
  test Boiler.LockoutCode 0 0;
  test ValveBlock.AlarmFlags 0 0;
  test CoolingFan.AlarmFlags 0 0;
  test Doser.AlarmFlags 0 0;
  ; Plausible readings: flow temperature up to 95.0 deg C, pressure up to 3.00 bar.
  test Boiler.FlowTemp 0 950;
  test Boiler.WaterPressure 0 300;
  test ValveBlock.ManualOverride 0 0;
  if nodefail "Plant Check Failed";
  usermessage "Plant check passed: all five devices answered and report no alarms.";
endnode;

testnode "Plant Check Failed";
  usermessage "Plant check failed. The Scripting page shows which action failed.";
endnode;
