; Manual run of the cooling fan.

displaytestnode "Cooling Fan Test";
  set CoolingFan.FanSpeedSetpoint 1200;
  test CoolingFan.FanSpeedSetpoint 1200 1200;
  ; Give the fan 3 s to reach its speed.
  wait 300;
  get CoolingFan.FanSpeed;
  get CoolingFan.AirTemp;
  test CoolingFan.AlarmFlags 0 0;
  ; Back to automatic mode.
  set CoolingFan.FanSpeedSetpoint 0;
  test CoolingFan.FanSpeedSetpoint 0 0;
  if nodepass "Cooling Fan Passed";
  usermessage "Cooling fan test failed: the fan controller reports an alarm or did not answer.";
endnode;

testnode "Cooling Fan Passed";
  usermessage "Cooling fan test passed. The fan is back in automatic mode.";
endnode;
