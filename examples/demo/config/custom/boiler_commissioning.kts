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

displaytestnode "Boiler Heating Curve";
  ; The standard curve: 75 deg C flow at -20 deg C outdoors, falling to 30 deg C at 25 deg C.
  setlocal Boiler.HeatingCurve 0 75;
  setlocal Boiler.HeatingCurve 1 70;
  setlocal Boiler.HeatingCurve 2 65;
  setlocal Boiler.HeatingCurve 3 60;
  setlocal Boiler.HeatingCurve 4 55;
  setlocal Boiler.HeatingCurve 5 50;
  setlocal Boiler.HeatingCurve 6 45;
  setlocal Boiler.HeatingCurve 7 40;
  setlocal Boiler.HeatingCurve 8 35;
  setlocal Boiler.HeatingCurve 9 30;
  savefile Boiler.HeatingCurve;
  ; A milder curve for a well insulated house: 68 deg C at -10 deg C outdoors.
  set Boiler.HeatingCurve 2 68;
  loadfile Boiler.HeatingCurve;
  test Boiler.HeatingCurve 0 75;
  test Boiler.HeatingCurve 2 68;
  test Boiler.HeatingCurve 9 30;
  if nodefail "Heating Curve Not Written";
  usermessage "The heating curve has been written and read back.";
endnode;

testnode "Heating Curve Not Written";
  usermessage "The heating curve could not be written or read back. Check the boiler controller.";
endnode;
