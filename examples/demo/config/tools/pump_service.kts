; Service tools for the feed pump drive.

displaytestnode "Feed Pump Run-In";
  userintervention "Open the suction and delivery valves, then press OK to start the pump.";
  if nodefail "Pump Run-In Cancelled";
  set FeedPump.SpeedSetpoint 1450;
  test FeedPump.SpeedSetpoint 1450 1450;
  ; Run for 10 s, then take the readings.
  wait 1000;
  get FeedPump.ActualSpeed;
  get FeedPump.MotorCurrent;
  test FeedPump.AlarmFlags 0 0;
  set FeedPump.SpeedSetpoint 0;
  test FeedPump.SpeedSetpoint 0 0;
  usermessage "Run-in finished. The pump is stopped.";
endnode;

testnode "Pump Run-In Cancelled";
  usermessage "Run-in cancelled. The pump was not started.";
endnode;

; Puts the pump at rest whatever happened before; korvarun --cleanup "Safe State" runs it after
; every run, however the run ends.
displaytestnode "Safe State";
  set FeedPump.SpeedSetpoint 0;
  test FeedPump.SpeedSetpoint 0 0;
endnode;

displaytestnode "Reset Pump Alarms";
  set FeedPump.AlarmReset 1;
  wait 50;
  test FeedPump.AlarmFlags 0 0;
  if nodepass "Pump Alarms Cleared";
  usermessage "The feed pump still reports an alarm. Check the drive display.";
endnode;

testnode "Pump Alarms Cleared";
  usermessage "All feed pump alarms are cleared.";
endnode;
