; Commissioning of the boiler controller.

displaytestnode "Boiler Commissioning";
  usermessage "Check that the system is filled and vented before the burner starts.";
  call "Boiler Safety Check";
  if nodefail "Boiler Commissioning Failed";
  ; Flow temperature 65.0 deg C in comfort mode.
  set Boiler.FlowTempSetpoint 650;
  test Boiler.FlowTempSetpoint 650 650;
  ; Let the burner start before the readings are taken (5 s).
  wait 500;
  get Boiler.FlowTemp;
  get Boiler.ReturnTemp;
  get Boiler.OutdoorTemp;
  get Boiler.RunHours;
  test Boiler.AlarmFlags 0 0;
  if nodefail "Boiler Commissioning Failed";
  usermessage "Boiler commissioning complete. Flow temperature set point is 65.0 deg C.";
endnode;

testnode "Boiler Safety Check";
  test Boiler.AlarmFlags 0 0;
  test Boiler.LockoutCode 0 0;
  test Boiler.WaterPressure 0 300;
endnode;

testnode "Boiler Commissioning Failed";
  usermessage "Boiler commissioning stopped: the boiler reports an alarm or did not answer.";
endnode;
