; Reading and writing the dosing recipe of the dosing unit.

displaytestnode "Read Dosing Recipe";
  loadfile Doser.Recipe;
  get Doser.TankLevel;
  usermessage "The dosing recipe has been read. Select Doser, Recipe in the device tree to see it.";
endnode;

displaytestnode "Write Default Recipe";
  userintervention "The recipe in the dosing unit will be replaced by the default recipe. Continue?";
  if nodefail "Recipe Unchanged";
  ; Millilitres of inhibitor for the eight slots of the day.
  setlocal Doser.Recipe 0 120;
  setlocal Doser.Recipe 1 0;
  setlocal Doser.Recipe 2 80;
  setlocal Doser.Recipe 3 0;
  setlocal Doser.Recipe 4 120;
  setlocal Doser.Recipe 5 0;
  setlocal Doser.Recipe 6 80;
  setlocal Doser.Recipe 7 0;
  savefile Doser.Recipe;
  test Doser.Recipe 0 120;
  test Doser.Recipe 2 80;
  if nodefail "Recipe Not Written";
  usermessage "The default recipe has been written.";
endnode;

testnode "Recipe Unchanged";
  usermessage "The recipe was not changed.";
endnode;

testnode "Recipe Not Written";
  usermessage "The recipe could not be written or read back. Check the dosing unit.";
endnode;
